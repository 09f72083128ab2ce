#include "sources.h"

#include <string>

int irdbPress(const Definition& d, const PressRequest& r, Press* press, std::string* error)
{
    (void)d;
    (void)r;
    (void)press;
    *error = "sending irdb's protocols is not built yet";
    return -1;
}
