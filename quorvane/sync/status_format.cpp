#include "status_format.h"

namespace {

constexpr int TemplateSize = 257; // at most 256 characters and the terminator
constexpr int FormatLimit = 1025; // wvsprintf never writes more than 1024 bytes and the terminator

// Copies at most size-1 bytes without splitting a double-byte character.
void CopyWholeCharacters(char* out, int size, const char* text)
{
    int length = 0;
    while (text[length]) {
        int width = IsDBCSLeadByte(BYTE(text[length])) && text[length + 1] ? 2 : 1;
        if (length + width > size - 1)
            break;
        length += width;
    }
    CopyMemory(out, text, length);
    out[length] = '\0';
}

} // namespace

bool FormatStatusLine(char line[StatusLineSize], UINT id, va_list arguments)
{
    char format[TemplateSize];
    if (!LoadStringA(GetModuleHandleA(nullptr), id, format, TemplateSize))
        return false;
    // A long host name can make the line longer than a line may be; format
    // into a buffer that cannot overflow, then cut at a character.
    char formatted[FormatLimit];
    wvsprintfA(formatted, format, arguments);
    CopyWholeCharacters(line, StatusLineSize, formatted);
    return true;
}
