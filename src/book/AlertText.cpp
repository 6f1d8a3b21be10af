#include "book/AlertText.h"

#include <QLabel>
#include <QMessageBox>

namespace velmora {

void showAlertTextAsWritten(QMessageBox &box) {
    box.setTextFormat(Qt::PlainText);
    for (QLabel *label : box.findChildren<QLabel *>())
        label->setTextFormat(Qt::PlainText);
}

} // namespace velmora
