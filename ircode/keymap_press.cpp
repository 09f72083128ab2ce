#include "sources.h"

#include <string>

int keymapPress(const Definition& d, const PressRequest& r, Press* press, std::string* error)
{
    (void)d;
    (void)r;
    (void)press;
    *error = "sending keymaps is not built yet";
    return -1;
}
