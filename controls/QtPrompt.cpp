#include "controls/QtPrompt.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>

PromptAnswer CQtPrompt::MessageBox(const std::string& text, const std::string& caption, PromptButtons buttons,
                                   PromptIcon icon)
{
    QMessageBox box(m_pParent);
    box.setWindowTitle(QString::fromStdString(caption));
    box.setText(QString::fromStdString(text));
    box.setTextFormat(Qt::PlainText);
    switch (icon) {
    case PromptIcon::Stop: box.setIcon(QMessageBox::Critical); break;
    case PromptIcon::Exclamation: box.setIcon(QMessageBox::Warning); break;
    case PromptIcon::Question: box.setIcon(QMessageBox::Question); break;
    case PromptIcon::Information: box.setIcon(QMessageBox::Information); break;
    case PromptIcon::None: box.setIcon(QMessageBox::NoIcon); break;
    }
    if (buttons == PromptButtons::YesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::No);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
        box.setDefaultButton(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Ok);
    }
    const int result = box.exec();
    if (buttons == PromptButtons::YesNo)
        return result == QMessageBox::Yes ? PromptAnswer::Yes : PromptAnswer::No;
    return PromptAnswer::Ok;
}

bool CQtPrompt::SaveFileDialog(const std::string& initialName, const std::string& defaultExt,
                               const std::vector<PromptFileFilter>& filters, std::string* fullPath,
                               std::string* fileTitle)
{
    QFileDialog dialog(m_pParent);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // Qt's own dialog, so that the default extension and the filters behave the
    // same on every desktop; saving over a file is asked about later, by Record.
    dialog.setOptions(QFileDialog::DontConfirmOverwrite | QFileDialog::DontUseNativeDialog);
    const QString ext = QString::fromStdString(defaultExt);
    if (!ext.isEmpty())
        dialog.setDefaultSuffix(ext);

    QStringList nameFilters;
    for (const PromptFileFilter& filter : filters) {
        const QString description = QString::fromStdString(filter.description);
        const QString pattern = QString::fromStdString(filter.pattern);
        // Qt reads the patterns from the parentheses at the end of the text.
        if (description.endsWith(QLatin1Char(')')) && description.contains(QLatin1Char('(')))
            nameFilters << description;
        else
            nameFilters << QStringLiteral("%1 (%2)").arg(description, QString(pattern).replace(';', ' '));
    }
    if (!nameFilters.isEmpty())
        dialog.setNameFilters(nameFilters);

    // A wildcard name ("*.wav") only says what to list; a real name is offered.
    const QString initial = QString::fromStdString(initialName);
    if (!initial.isEmpty() && !initial.contains(QLatin1Char('*')) && !initial.contains(QLatin1Char('?'))) {
        const QFileInfo info(initial);
        if (info.isAbsolute() || initial.contains(QLatin1Char('/')))
            dialog.setDirectory(info.absolutePath());
        dialog.selectFile(info.fileName());
    } else {
        dialog.setDirectory(QDir::currentPath());
    }

    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    QString path = dialog.selectedFiles().first();
    if (path.isEmpty())
        return false;
    if (!ext.isEmpty() && QFileInfo(path).suffix().isEmpty())
        path += QLatin1Char('.') + ext;
    const QString absolute = QFileInfo(path).absoluteFilePath();
    if (fullPath)
        *fullPath = absolute.toStdString();
    if (fileTitle)
        *fileTitle = QFileInfo(absolute).fileName().toStdString();
    return true;
}
