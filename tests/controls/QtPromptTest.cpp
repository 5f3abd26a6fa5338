// The Qt prompt shows the caption, text, buttons and icon it is given, answers
// what the user pressed, and returns the chosen save path with its extension.
#include "controls/QtPrompt.h"

#include <QAbstractButton>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <functional>

namespace {

// Runs `act` on the modal window once it is open.
void WhenModalOpens(std::function<void(QWidget*)> act)
{
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            timer->stop();
            timer->deleteLater();
            act(modal);
        }
    });
    timer->start();
}

}  // namespace

class QtPromptTest : public QObject {
    Q_OBJECT
private slots:
    void MessageBox_ShowsWhatItIsGiven_data()
    {
        QTest::addColumn<int>("buttons");
        QTest::addColumn<int>("icon");
        QTest::addColumn<int>("expectedIcon");
        QTest::addColumn<int>("press");
        QTest::addColumn<int>("answer");
        QTest::newRow("stop, OK") << int(PromptButtons::Ok) << int(PromptIcon::Stop) << int(QMessageBox::Critical)
                                  << int(QMessageBox::Ok) << int(PromptAnswer::Ok);
        QTest::newRow("question, Yes") << int(PromptButtons::YesNo) << int(PromptIcon::Question)
                                       << int(QMessageBox::Question) << int(QMessageBox::Yes) << int(PromptAnswer::Yes);
        QTest::newRow("question, No") << int(PromptButtons::YesNo) << int(PromptIcon::Question)
                                      << int(QMessageBox::Question) << int(QMessageBox::No) << int(PromptAnswer::No);
        QTest::newRow("exclamation") << int(PromptButtons::Ok) << int(PromptIcon::Exclamation)
                                     << int(QMessageBox::Warning) << int(QMessageBox::Ok) << int(PromptAnswer::Ok);
        QTest::newRow("information") << int(PromptButtons::Ok) << int(PromptIcon::Information)
                                     << int(QMessageBox::Information) << int(QMessageBox::Ok) << int(PromptAnswer::Ok);
        QTest::newRow("no icon") << int(PromptButtons::Ok) << int(PromptIcon::None) << int(QMessageBox::NoIcon)
                                 << int(QMessageBox::Ok) << int(PromptAnswer::Ok);
    }
    void MessageBox_ShowsWhatItIsGiven()
    {
        QFETCH(int, buttons);
        QFETCH(int, icon);
        QFETCH(int, expectedIcon);
        QFETCH(int, press);
        QFETCH(int, answer);
        QWidget owner;
        owner.show();
        CQtPrompt prompt(&owner);
        QString seenTitle, seenText;
        int seenIcon = -1;
        QMessageBox::StandardButtons seenButtons;
        WhenModalOpens([&](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            QVERIFY(box);
            seenTitle = box->windowTitle();
            seenText = box->text();
            seenIcon = box->icon();
            seenButtons = box->standardButtons();
            box->button(static_cast<QMessageBox::StandardButton>(press))->click();
        });
        const PromptAnswer result = prompt.MessageBox("Are you sure you want to delete the preset, Tape?\n",
                                                      "Preset Warning", static_cast<PromptButtons>(buttons),
                                                      static_cast<PromptIcon>(icon));
        QCOMPARE(int(result), answer);
        QCOMPARE(seenTitle, QString("Preset Warning"));
        QCOMPARE(seenText, QString("Are you sure you want to delete the preset, Tape?\n"));
        QCOMPARE(seenIcon, expectedIcon);
        if (static_cast<PromptButtons>(buttons) == PromptButtons::YesNo)
            QCOMPARE(seenButtons, QMessageBox::Yes | QMessageBox::No);
        else
            QCOMPARE(seenButtons, QMessageBox::StandardButtons(QMessageBox::Ok));
    }

    void MessageBox_EscapeOnAQuestionAnswersNo()
    {
        CQtPrompt prompt;
        WhenModalOpens([](QWidget* modal) { QTest::keyClick(modal, Qt::Key_Escape); });
        QCOMPARE(prompt.MessageBox("Do you want to add the new preset, x?\n", "Preset Warning",
                                   PromptButtons::YesNo, PromptIcon::Question),
                 PromptAnswer::No);
    }

    // A name typed without extension gets the default one; the filters are offered
    // in order; an existing file is taken without an overwrite question.
    void SaveFileDialog_AddsTheExtensionAsksNoOverwriteAndCancels()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QFile existing(dir.filePath("Song.wav"));
        QVERIFY(existing.open(QIODevice::WriteOnly));
        existing.close();

        CQtPrompt prompt;
        const std::vector<PromptFileFilter> filters = {{"Windows PCM (*.wav)", "*.wav"}, {"All files (*.*)", "*.*"}};
        QStringList seenFilters;
        QString typed;
        auto answer = [&](const QString& name) {
            WhenModalOpens([&, name](QWidget* modal) {
                auto* dialog = qobject_cast<QFileDialog*>(modal);
                QVERIFY(dialog);
                seenFilters = dialog->nameFilters();
                auto* edit = dialog->findChild<QLineEdit*>("fileNameEdit");
                QVERIFY(edit);
                typed = edit->text();
                dialog->selectFile(name);
                QMetaObject::invokeMethod(dialog, "accept");
            });
        };

        std::string fullPath, fileTitle;
        answer("Album");
        QVERIFY(prompt.SaveFileDialog(dir.filePath("Song.wav").toStdString(), "wav", filters, &fullPath, &fileTitle));
        QCOMPARE(seenFilters, QStringList({"Windows PCM (*.wav)", "All files (*.*)"}));
        QCOMPARE(typed, QString("Song.wav"));
        QCOMPARE(QString::fromStdString(fullPath), QDir(dir.path()).absoluteFilePath("Album.wav"));
        QCOMPARE(QString::fromStdString(fileTitle), QString("Album.wav"));

        answer("Song.wav");
        QVERIFY(prompt.SaveFileDialog(dir.filePath("Song.wav").toStdString(), "wav", filters, &fullPath, &fileTitle));
        QCOMPARE(QString::fromStdString(fileTitle), QString("Song.wav"));
        QVERIFY(QApplication::activeModalWidget() == nullptr);

        // Cancel returns false and leaves the path and title alone.
        WhenModalOpens([](QWidget* modal) { qobject_cast<QDialog*>(modal)->reject(); });
        QVERIFY(!prompt.SaveFileDialog("*.wav", "wav", filters, &fullPath, &fileTitle));
        QCOMPARE(QString::fromStdString(fileTitle), QString("Song.wav"));
    }
};

QTEST_MAIN(QtPromptTest)
#include "QtPromptTest.moc"
