#include "server/window/WidgetPrompt.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>

namespace nodalis {

namespace {

QMessageBox::Icon boxIcon(OperatorPrompt::Icon icon)
{
    switch (icon) {
    case OperatorPrompt::Icon::Warning:
        return QMessageBox::Warning;
    case OperatorPrompt::Icon::Critical:
        return QMessageBox::Critical;
    case OperatorPrompt::Icon::Question:
        return QMessageBox::Question;
    case OperatorPrompt::Icon::Information:
        break;
    }
    return QMessageBox::Information;
}

} // namespace

void WidgetPrompt::showMessage(const QString& title, const QString& text, Icon icon)
{
    QMessageBox box(boxIcon(icon), title, text, QMessageBox::Ok);
    box.exec();
}

bool WidgetPrompt::askYesNo(const QString& title, const QString& text, bool defaultAnswer)
{
    const auto answer =
        QMessageBox::question(nullptr, title, text, QMessageBox::Yes | QMessageBox::No,
                              defaultAnswer ? QMessageBox::Yes : QMessageBox::No);
    return answer == QMessageBox::Yes;
}

QString WidgetPrompt::askText(const QString& title, const QString& label,
                              const QString& defaultText)
{
    bool ok = false;
    const QString text =
        QInputDialog::getText(nullptr, title, label, QLineEdit::Normal, defaultText, &ok);
    return ok ? text : QString();
}

QStringList WidgetPrompt::chooseFiles(const QString& title, const QString& filter,
                                      const QString& startFolder, bool several)
{
    if (several)
        return QFileDialog::getOpenFileNames(nullptr, title, startFolder, filter);
    const QString file = QFileDialog::getOpenFileName(nullptr, title, startFolder, filter);
    return file.isEmpty() ? QStringList() : QStringList{file};
}

} // namespace nodalis
