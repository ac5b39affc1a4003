#include "plainaccessible.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <Qsci/qsciscintillabase.h>

namespace {

QAccessibleInterface* PlainTextBoxAccessible(const QString& /*className*/, QObject* object)
{
    auto* editor = qobject_cast<QsciScintillaBase*>(object);
    if (editor && !QAccessible::isActive())
        return new QAccessibleWidget(editor, QAccessible::EditableText);
    return nullptr;
}

} // namespace

void UsePlainAccessibleTextBoxes()
{
    [[maybe_unused]] static const bool installed = [] {
        QAccessible::installFactory(PlainTextBoxAccessible);
        return true;
    }();
}
