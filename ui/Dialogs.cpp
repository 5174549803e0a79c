#include "ui/Dialogs.h"

#include <QFileDialog>
#include <QMessageBox>

namespace ui {

namespace {

void showBox(QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text) {
    QMessageBox box(icon, title, text, QMessageBox::Ok, parent);
    box.exec();
}

}  // namespace

void QtDialogs::information(const std::string& text) {
    showBox(parent_, QMessageBox::Information, QStringLiteral("Information"), QString::fromStdString(text));
}

void QtDialogs::warning(const std::string& text) {
    showBox(parent_, QMessageBox::Warning, QStringLiteral("Warning"), QString::fromStdString(text));
}

void QtDialogs::error(const std::string& text) {
    showBox(parent_, QMessageBox::Critical, QStringLiteral("Error"), QString::fromStdString(text));
}

void QtDialogs::failure(const QString& title, const QString& text) {
    showBox(parent_, QMessageBox::Critical, title, text);
}

QString QtDialogs::openFile() {
    // One filter, described as "Firebird ", which is also the selected one;
    // no title and no starting folder.
    QFileDialog dialog(parent_);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilter(QStringLiteral("Firebird (*.fb)"));
    dialog.setSizeGripEnabled(true);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
    return dialog.selectedFiles().constFirst();
}

}  // namespace ui
