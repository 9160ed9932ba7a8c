#include "ui/qt/about_dlg.h"

#include <QLabel>
#include <QPushButton>

#include "ui/qt/app_icon.h"
#include "ui/qt/dialog_font.h"
#include "ui/dialog_template.h"

namespace torvane {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QString::fromUtf8(kAboutDialogCaption));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setFont(AboutDialogFont());
  const DialogBaseUnits base = DialogBaseUnitsOf(font());
  setFixedSize(DialogUnitsToPixelsX(kAboutDialogWidthDu, base),
               DialogUnitsToPixelsY(kAboutDialogHeightDu, base));

  for (const TemplateControl& control : kAboutDialogControls) {
    const QRect rect(DialogUnitsToPixelsX(control.rect.x, base), DialogUnitsToPixelsY(control.rect.y, base),
                     DialogUnitsToPixelsX(control.rect.cx, base), DialogUnitsToPixelsY(control.rect.cy, base));
    QWidget* widget = nullptr;
    switch (control.kind) {
      case ControlKind::Icon: {
        auto* icon = new QLabel(this);
        icon->setPixmap(MakeAppIcon().pixmap(rect.size()));
        icon->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        widget = icon;
        break;
      }
      case ControlKind::PushButton: {
        auto* button = new QPushButton(QString::fromUtf8(control.caption), this);
        button->setDefault(true);
        connect(button, &QPushButton::clicked, this, &QDialog::accept);
        widget = button;
        break;
      }
      default: {
        auto* label = new QLabel(QString::fromUtf8(control.caption), this);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        widget = label;
        break;
      }
    }
    widget->setGeometry(rect);
    if (control.id != IDC_STATIC) widget->setObjectName(QString::number(control.id));
  }
}

}  // namespace torvane
