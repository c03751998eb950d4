#pragma once

#include <QHash>

#include <functional>
#include <initializer_list>

namespace nodalis {

// What a line method brings to the port: how it listens, closes, tests the
// machine's readiness and sends. Each transport plugs its own in; a method
// without an entry starts nothing.
struct PortMethod
{
    std::function<void()> listen;
    std::function<void()> close;
    std::function<void()> returnToListening; // releases the line after a transaction
    std::function<bool()> isReady;
    std::function<bool()> send;
    // The sender logs its own end: no completion steps after it (network
    // methods).
    bool ownCompletion = false;
};

class MethodTable
{
public:
    void plug(std::initializer_list<int> methods, const PortMethod& method)
    {
        for (int m : methods)
            m_methods.insert(m, method);
    }
    const PortMethod* find(int method) const
    {
        const auto it = m_methods.constFind(method);
        return it == m_methods.constEnd() ? nullptr : &*it;
    }

private:
    QHash<int, PortMethod> m_methods;
};

// Network methods: reached through the explorer windows and the transfer dispatch.
inline bool IsNetworkMethod(int method)
{
    return method == 4 || method == 6 || method == 17 || method == 18 || method == 19 ||
           method == 21;
}

} // namespace nodalis
