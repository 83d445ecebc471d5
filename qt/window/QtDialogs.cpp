#include "QtDialogs.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMessageBox>
#include <QStringList>

namespace rlv::qtw {

namespace {

QString Q(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string S(const QString& text) {
  return text.toUtf8().toStdString();
}

}  // namespace

QString ToQtFilter(const std::string& filter) {
  const QStringList parts = Q(filter).split(QLatin1Char('|'));
  QStringList out;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QString description = parts[i].trimmed();
    QString patterns = parts[i + 1].trimmed();
    patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
    patterns = patterns.simplified();
    if (patterns.isEmpty()) patterns = QStringLiteral("*");
    // Qt reads the patterns from the parentheses: they must be the filter's own.
    const qsizetype open = description.lastIndexOf(QLatin1Char('('));
    if (description.endsWith(QLatin1Char(')')) && open >= 0) description = description.left(open).trimmed();
    if (description.isEmpty()) description = patterns;
    out.push_back(description + QStringLiteral(" (") + patterns + QLatin1Char(')'));
  }
  if (parts.size() % 2 == 1 && !parts.last().trimmed().isEmpty()) {
    // A lone pattern without a description.
    const QString patterns = parts.last().trimmed().replace(QLatin1Char(';'), QLatin1Char(' '));
    out.push_back(patterns + QStringLiteral(" (") + patterns + QLatin1Char(')'));
  }
  return out.join(QStringLiteral(";;"));
}

QWidget* QtDialogs::Owner() {
  if (QWidget* modal = QApplication::activeModalWidget()) return modal;
  if (QWidget* active = QApplication::activeWindow()) return active;
  for (QWidget* top : QApplication::topLevelWidgets()) {
    if (top->isVisible() && top->isWindow() && top->windowType() == Qt::Window) return top;
  }
  return nullptr;
}

std::optional<std::string> QtDialogs::OpenFile(const std::string& filter) {
  const QString path = QFileDialog::getOpenFileName(Owner(), QString(), QString(), ToQtFilter(filter));
  if (path.isEmpty()) return std::nullopt;
  return S(QDir::toNativeSeparators(path));
}

std::optional<std::string> QtDialogs::SaveFile(const std::string& filter, const std::string& default_ext,
                                               const std::string& suggested_path) {
  QFileDialog dialog(Owner(), QString(), QString(), ToQtFilter(filter));
  if (!suggested_path.empty()) dialog.selectFile(Q(suggested_path));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  QString suffix = Q(default_ext);
  while (suffix.startsWith(QLatin1Char('.'))) suffix.remove(0, 1);
  if (!suffix.isEmpty()) dialog.setDefaultSuffix(suffix);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList files = dialog.selectedFiles();
  if (files.isEmpty() || files.first().isEmpty()) return std::nullopt;
  return S(QDir::toNativeSeparators(files.first()));
}

bool QtDialogs::Confirm(const std::string& text, const std::string& caption) {
  QMessageBox box(QMessageBox::Question, Q(caption), Q(text), QMessageBox::Yes | QMessageBox::No, Owner());
  // The text may quote a tracker, a file or a server: never markup.
  box.setTextFormat(Qt::PlainText);
  box.setDefaultButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

void QtDialogs::ShowMessage(const std::string& text) {
  QMessageBox box(QMessageBox::NoIcon, QGuiApplication::applicationDisplayName(), Q(text), QMessageBox::Ok,
                  Owner());
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

void QtDialogs::SetText(const std::string& text) {
  QGuiApplication::clipboard()->setText(Q(text));
}

std::string QtDialogs::Text() const {
  return S(QGuiApplication::clipboard()->text());
}

}  // namespace rlv::qtw
