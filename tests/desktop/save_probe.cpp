// Runs the program's LoadSettings and SaveSettings on the settings file of
// its current folder, for the tests that cut a save off or make it fail from
// the Linux side. Two lists of COUNT phrases take turns: list A with the
// hotkey Ctrl+A, list B (one phrase shorter) with Shift+B.
//   save_probe.exe loop COUNT    loads (as at start), saves A, prints "ready",
//                                then saves B, A, B ... until it is killed
//   save_probe.exe check COUNT   loads and prints "A", "B" or what it found
//   save_probe.exe save COUNT    loads, saves B once and prints
//                                "error=CODE path=WHAT COULD NOT BE WRITTEN"
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "app/app_state.h"
#include "settings/settings.h"

namespace {

struct List {
    PhraseList phrases;
    INT32 vk, modifiers;
};

List MakeList(char name, int count) {
    List list;
    const int length = name == 'A' ? count : count - 1;
    for (int i = 0; i < length; ++i) {
        char text[80];
        snprintf(text, sizeof text, "%c phrase %05d: with kind regards, the sender", name, i);
        list.phrases.push_back(text);
    }
    list.vk = name;
    list.modifiers = name == 'A' ? MOD_CONTROL : MOD_SHIFT;
    return list;
}

DWORD Save(const List& list, std::string* failedPath = nullptr) {
    app.hotkeyVk = list.vk;
    app.hotkeyModifiers = list.modifiers;
    return SaveSettings(
        static_cast<INT32>(list.phrases.size()),
        [&](INT32 i) -> const std::string& { return list.phrases[i]; }, failedPath);
}

void Load() {
    app.phrases.clear();
    LoadSettings();
}

bool Holds(const List& list) {
    return app.phrases == list.phrases && app.hotkeyVk == list.vk &&
           app.hotkeyModifiers == list.modifiers;
}

void Say(const std::string& line) {
    printf("%s\n", line.c_str());
    fflush(stdout);
}

int Loop(int count) {
    const List a = MakeList('A', count), b = MakeList('B', count);
    Load();
    if (Save(a) != ERROR_SUCCESS) {
        Say("first save failed");
        return 1;
    }
    Say("ready");
    for (;;) {
        Save(b);
        Save(a);
    }
}

int Check(int count) {
    Load();
    if (Holds(MakeList('A', count))) {
        Say("A");
    } else if (Holds(MakeList('B', count))) {
        Say("B");
    } else {
        Say("neither: " + std::to_string(app.phrases.size()) + " phrases, VK " +
            std::to_string(app.hotkeyVk) + ", first " +
            (app.phrases.empty() ? std::string("none") : app.phrases.front()) + ", last " +
            (app.phrases.empty() ? std::string("none") : app.phrases.back()));
    }
    return 0;
}

int SaveOnce(int count) {
    Load();
    std::string failedPath;
    DWORD error = Save(MakeList('B', count), &failedPath);
    Say("error=" + std::to_string(error) + " path=" + (error ? failedPath : std::string()));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && strcmp(argv[1], "loop") == 0) return Loop(atoi(argv[2]));
    if (argc >= 3 && strcmp(argv[1], "check") == 0) return Check(atoi(argv[2]));
    if (argc >= 3 && strcmp(argv[1], "save") == 0) return SaveOnce(atoi(argv[2]));
    fprintf(stderr, "usage: save_probe loop COUNT | check COUNT | save COUNT\n");
    return 2;
}
