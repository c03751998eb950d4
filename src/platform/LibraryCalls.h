#pragma once

#include <QLibrary>
#include <QString>

namespace nodalis {

// The C calls of a library loaded at run time, resolved by name one after
// the other; the first that is missing is told in why.
class LibraryCalls
{
public:
    LibraryCalls(QLibrary& library, QString* why) : m_library(library), m_why(why) {}

    template <class Fn> void need(Fn*& fn, const char* name)
    {
        fn = reinterpret_cast<Fn*>(m_library.resolve(name));
        if (!fn && m_ok) {
            *m_why = m_library.fileName() + QStringLiteral(" : ") + QLatin1String(name) +
                     QStringLiteral(" manque dans la bibliothèque");
            m_ok = false;
        }
    }
    // Every call asked for so far was found.
    bool ok() const { return m_ok; }

private:
    QLibrary& m_library;
    QString* m_why;
    bool m_ok = true;
};

} // namespace nodalis
