#include "resources/Help.h"

#include "resources/Artwork.h"
#include "resources/ResourceIds.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QTextBrowser>
#include <QVBoxLayout>

QString HelpPagePath(int topic)
{
    switch (topic) {
    case IDH_RECORDER: return QStringLiteral(":/cadenzo/help/recorder.html");
    case IDH_CUSTOM_SETTINGS: return QStringLiteral(":/cadenzo/help/settings.html");
    default: return QString();
    }
}

QString LoadHelpPage(int topic)
{
    InitResources();
    const QString path = HelpPagePath(topic);
    if (path.isEmpty())
        return QString();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll());
}

bool ShowHelp(QWidget* parent, int topic)
{
    const QString page = LoadHelpPage(topic);
    if (page.isEmpty())
        return false;
    QDialog window(parent);
    window.setWindowTitle(QStringLiteral("Cadenzo Help"));
    auto* layout = new QVBoxLayout(&window);
    auto* browser = new QTextBrowser(&window);
    browser->setHtml(page);
    browser->setOpenLinks(false);
    layout->addWidget(browser);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, &window);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &window, &QDialog::reject);
    layout->addWidget(buttons);
    window.resize(460, 420);
    window.exec();
    return true;
}
