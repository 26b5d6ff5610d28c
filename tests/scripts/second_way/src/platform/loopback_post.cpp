#include <netinet/in.h>
#include <charconv>
int status(const char* text) {
    int code = 0;
    std::from_chars(text, text + 3, code);
    return code;
}
