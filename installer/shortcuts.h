// The product's shortcuts: shell links under the Windows 4.0 shell, Program
// Manager groups before it.
#pragma once

enum ShortcutPlace { Programs = 0, Desktop = 1, Startup = 2 };

// Makes (or, with `remove`, removes) the shortcuts of a place. Failures are
// silent, but for the folder messages of the Start-menu folder.
void CreateShortcuts(ShortcutPlace place, bool remove);
// Sends one execute command to Program Manager; false without a conversation.
bool ProgmanExecute(const char* command);
// The AddItem command for a target ("path[,arguments]") and a caption:
// the short form of the path, then a space and the arguments if any.
bool BuildAddItemCommand(const char* target, const char* caption, char* command, int size);
