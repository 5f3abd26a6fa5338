#include "controls/AboutDlg.h"

#include "resources/Artwork.h"
#include "resources/DialogBuilder.h"
#include "resources/ResourceIds.h"

#include <QPalette>
#include <QPushButton>

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent), m_crBackground(192, 192, 192)
{
    InitResources();
    CDialogBuilder builder;
    builder.Build(this, GetDialogTemplate(IDD_ABOUTBOX));
    setWindowIcon(LoadIcon(IDI_PROGRAM));

    // Light grey ground and black text for the window and every control, whatever
    // the opener uses: the palette for plain widgets, and an own style sheet, which
    // wins over any style sheet the opener passes down.
    QPalette palette;
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, QPalette::Window, m_crBackground);
        palette.setColor(group, QPalette::Button, m_crBackground);
        palette.setColor(group, QPalette::Base, m_crBackground);
        palette.setColor(group, QPalette::WindowText, Qt::black);
        palette.setColor(group, QPalette::ButtonText, Qt::black);
        palette.setColor(group, QPalette::Text, Qt::black);
    }
    setPalette(palette);
    setAutoFillBackground(true);
    const QString grey = m_crBackground.name();
    // The button gets a classic raised look of its own, since a style sheet that
    // colours a button replaces the platform's drawing of it.
    setStyleSheet(QStringLiteral("CAboutDlg { background-color: %1; }"
                                 " QLabel { background-color: %1; color: black; }"
                                 " QPushButton { background-color: %1; color: black; padding: 2px 6px;"
                                 " border: 2px solid; border-color: #f8f8f8 #5a5a5a #5a5a5a #f8f8f8; }"
                                 " QPushButton:pressed { border-color: #5a5a5a #f8f8f8 #f8f8f8 #5a5a5a; }")
                      .arg(grey));

    if (auto* ok = builder.Find<QPushButton>(1))
        connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}
