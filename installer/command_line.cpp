#include "command_line.h"

#include <cstring>

#include "dbcs_path.h"

namespace {

bool StartsWithIgnoringCase(const char* text, const char* head)
{
    for (; *head; ++text, ++head) {
        char a = *text, b = *head;
        if (a >= 'a' && a <= 'z')
            a = char(a - 'a' + 'A');
        if (b >= 'a' && b <= 'z')
            b = char(b - 'a' + 'A');
        if (a != b)
            return false;
    }
    return true;
}

bool EndsWord(char c)
{
    return c == '\0' || c == ' ' || c == '\t';
}

const char* SkipSpaces(const char* p)
{
    while (*p == ' ' || *p == '\t')
        ++p;
    return p;
}

// Copies one word (or a quoted text) into `out`; returns where it ends, or
// nullptr when it does not fit or its quote is not closed.
const char* ReadWord(const char* p, char* out, size_t size)
{
    const bool quoted = *p == '"';
    if (quoted)
        ++p;
    size_t length = 0;
    while (*p && (quoted ? *p != '"' : !EndsWord(*p))) {
        const size_t n = CharLength(p);
        if (length + n >= size)
            return nullptr;
        memcpy(out + length, p, n);
        length += n;
        p += n;
    }
    if (quoted && *p++ != '"')
        return nullptr;
    out[length] = '\0';
    return p;
}

// The rest of the line without trailing spaces.
bool ReadRest(const char* p, char* out, size_t size)
{
    size_t length = strlen(p);
    while (length > 0 && (p[length - 1] == ' ' || p[length - 1] == '\t'))
        --length;
    if (length >= size)
        return false;
    memcpy(out, p, length);
    out[length] = '\0';
    return true;
}

// A handle value in decimal, ending the word; nullptr for anything else.
const char* ReadHandle(const char* p, unsigned* value)
{
    unsigned long long number = 0;
    const char* start = p;
    for (; *p >= '0' && *p <= '9' && p - start < 10; ++p)
        number = number * 10 + unsigned(*p - '0');
    if (p == start || !EndsWord(*p) || number > 0xFFFFFFFFull)
        return nullptr;
    *value = unsigned(number);
    return p;
}

// "/S" or "/LOG=": consumed into `command`; returns where the option ends,
// `p` itself when there is none, or nullptr for a broken one.
const char* ReadSilentOption(const char* p, SetupCommand* command)
{
    if (StartsWithIgnoringCase(p, "/S") && EndsWord(p[2])) {
        command->silent = true;
        return p + 2;
    }
    if (StartsWithIgnoringCase(p, "/LOG="))
        return ReadWord(p + 5, command->log, sizeof command->log);
    return p;
}

// Whether "/S" stands alone anywhere in the line, also inside a quote that
// is never closed: such a run shows no window, whatever else is wrong.
bool HasSilentSwitch(const char* text)
{
    for (const char* p = text; *p; ++p) {
        if ((p == text || p[-1] == ' ' || p[-1] == '\t') && StartsWithIgnoringCase(p, "/S") && EndsWord(p[2]))
            return true;
    }
    return false;
}

} // namespace

bool ParseSetupCommand(const char* text, SetupCommand* command)
{
    memset(command, 0, sizeof *command);
    command->action = SetupAction::Wizard;
    command->silent = HasSilentSwitch(text);
    const char* p = SkipSpaces(text);
    // "x": the copy in the System folder, with the path after one separator.
    const char* letter = *p == '/' ? p + 1 : p;
    if (*letter == 'x') {
        p = letter[1] ? letter + 2 : letter + 1;
        const struct {
            const char* name;
            unsigned* value;
        } handles[] = {{"/LOGHANDLE=", &command->handles.log},
                       {"/REQUEST=", &command->handles.request},
                       {"/RESULT=", &command->handles.result}};
        for (const char* next;; p = SkipSpaces(next)) {
            next = ReadSilentOption(p, command);
            for (const auto& handle : handles) {
                if (next == p && StartsWithIgnoringCase(p, handle.name))
                    next = ReadHandle(p + strlen(handle.name), handle.value);
            }
            if (next == p)
                break;
            if (!next)
                return false;
        }
        command->action = SetupAction::UninstallCopy;
        return ReadRest(p, command->path, sizeof command->path);
    }
    while (*(p = SkipSpaces(p))) {
        const char* next = ReadSilentOption(p, command);
        if (!next)
            return false;
        if (next != p) {
            p = next;
        } else if (StartsWithIgnoringCase(p, "/D=")) {
            return ReadRest(p + 3, command->destination, sizeof command->destination);
        } else if (StartsWithIgnoringCase(p, "\"/D=")) {
            // Quoted whole, as a shell that quotes every argument with a
            // space passes it on.
            if (!ReadRest(p + 4, command->destination, sizeof command->destination))
                return false;
            const size_t length = strlen(command->destination);
            if (length > 0 && command->destination[length - 1] == '"')
                command->destination[length - 1] = '\0';
            return true;
        } else if (StartsWithIgnoringCase(p, "/DESKTOP") && EndsWord(p[8])) {
            command->desktop = true;
            p += 8;
        } else {
            const char* word = *p == '/' ? p + 1 : p;
            if ((*word == 'r' || *word == 'R') && EndsWord(word[1]))
                command->action = SetupAction::UninstallRequest;
            while (!EndsWord(*p))
                p += CharLength(p);
        }
    }
    return true;
}

bool BuildCopyCommand(const char* copy, const char* ownPath, bool silent, const CopyHandles& handles, char* out,
                      size_t size)
{
    // The program quoted: "Tools Setup.EXE" must never start a Tools.exe
    // of the System folder, nor itself with the wrong command letter.
    out[0] = '\0';
    bool fits = AppendBounded(out, size, "\"") && AppendBounded(out, size, copy) && AppendBounded(out, size, "\" x ");
    if (silent)
        fits = fits && AppendBounded(out, size, "/S ");
    const struct {
        const char* name;
        unsigned value;
    } options[] = {{"/LOGHANDLE=", handles.log}, {"/REQUEST=", handles.request}, {"/RESULT=", handles.result}};
    for (const auto& option : options) {
        char number[16];
        char* digit = number + sizeof number - 1;
        *digit = '\0';
        *--digit = ' ';
        for (unsigned value = option.value; value || digit == number + sizeof number - 2; value /= 10)
            *--digit = char('0' + value % 10);
        if (option.value)
            fits = fits && AppendBounded(out, size, option.name) && AppendBounded(out, size, digit);
    }
    return fits && AppendBounded(out, size, ownPath);
}
