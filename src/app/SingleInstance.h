#pragma once

#include <QString>

#include <memory>

// One running program per user session: the first holds the name for its
// life, a later start finds it taken. A named mutex on Windows, a lock file
// in the runtime folder elsewhere.
class SingleInstance {
public:
    explicit SingleInstance(const QString& name);
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;
    // False when another instance holds the name.
    bool First() const { return m_first; }

private:
    bool m_first = false;
    struct Held;
    std::unique_ptr<Held> m_held;
};
