#include "sources.h"

#include <string>

int lircdPress(const Definition& d, const PressRequest& r, Press* press, std::string* error)
{
    (void)d;
    (void)r;
    (void)press;
    *error = "sending lircd.conf remotes is not built yet";
    return -1;
}
