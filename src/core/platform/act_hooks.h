#pragma once
// The moment between an action's last check and its act: the check has found the world as planned,
// and the act follows. Another program may change the world right then; the act must still keep its
// promise (an exchange instead of a rename, a check of what came out). Tests take this moment to
// change the world on purpose; the real file system leaves it unobserved.

#include <string>

namespace paritas {

class BetweenCheckAndAct {
public:
    virtual ~BetweenCheckAndAct() = default;
    // `path` is the path whose check just passed.
    virtual void now(const std::string& path) = 0;
};

} // namespace paritas
