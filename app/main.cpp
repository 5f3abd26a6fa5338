// The program's entry: the application runs the recorder window for the whole run.
#include "app/RecorderApp.h"

int main(int argc, char** argv)
{
    CRecorderApp app(argc, argv);
    app.InitInstance();
    return 0;
}
