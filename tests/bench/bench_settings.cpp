// Times the program's own LoadSettings, SaveSettings and RebuildPhraseMenu on
// settings files of growing size, in the current directory, and beside them
// the system's own section read and write of the same file. Each size is
// timed several times; every run prints one line
//   settings OPERATION COUNT MILLISECONDS
// and the loaded list and the rebuilt menu are checked against the list that
// was saved ("check COUNT ok" or "check COUNT FAILED ...").
//
//   bench_settings.exe [MIN_RUNS [BUDGET_SECONDS [COUNT...]]]
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "app/app_state.h"
#include "phrases/phrase_menu.h"
#include "settings/settings.h"

namespace {

double Now() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return 1000.0 * static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Phrases of the length people keep: a greeting, an address line, a URL.
PhraseList MakePhrases(int count) {
    PhraseList phrases;
    for (int i = 0; i < count; ++i) {
        char text[80];
        snprintf(text, sizeof text, "phrase %05d: with kind regards, the sender", i);
        phrases.push_back(text);
    }
    return phrases;
}

// Runs `operation` at least minRuns times, and more while the time spent on
// it stays within the budget (at most 200 runs), printing each run. `prepare`
// runs before each run, untimed.
template <typename Prepare, typename Operation>
void Time(const char* name, int count, int minRuns, double budgetMs, Prepare prepare,
          Operation operation) {
    double spent = 0;
    for (int run = 0; run < 200 && (run < minRuns || spent < budgetMs); ++run) {
        prepare();
        double start = Now();
        operation();
        double elapsed = Now() - start;
        spent += elapsed;
        printf("settings %s %d %.4f\n", name, count, elapsed);
        fflush(stdout);
    }
}

// The section of the file as the system lists it, in a buffer sized as
// LoadSettings sizes its own: the file's length and a little more.
std::string ListedSection() {
    std::string buffer(1 << 22, '\0');
    DWORD length = GetPrivateProfileSectionA("DefStr", &buffer[0],
                                             static_cast<DWORD>(buffer.size()), "./vornick.ini");
    buffer.resize(length + 1);  // the list's own final zero byte
    return buffer;
}

// Gives the file a new time stamp, as a write would. Wine keeps the parsed
// file of the last profile call and reads the file again only when its
// stamp has changed (or for about two seconds after it changed): a read
// after a new stamp parses the whole file, as a program's first read at its
// start does. Timed without it, a read would come from that cache on some
// runs and from the file on others.
void StampFile() {
    HANDLE file =
        CreateFileA("vornick.ini", FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    SetFileTime(file, nullptr, nullptr, &now);
    CloseHandle(file);
}

// `saveError`: the last failed save's error code, or ERROR_SUCCESS.
void Check(int count, const PhraseList& expected, DWORD saveError) {
    int items = GetMenuItemCount(app.phraseMenu);
    if (app.phrases == expected && items == count && saveError == ERROR_SUCCESS) {
        printf("check %d ok\n", count);
    } else {
        printf("check %d FAILED: %u phrases loaded, %d menu items, save error %lu\n", count,
               static_cast<unsigned>(app.phrases.size()), items,
               static_cast<unsigned long>(saveError));
    }
}

}  // namespace

int main(int argc, char** argv) {
    int minRuns = argc > 1 ? atoi(argv[1]) : 5;
    double budgetMs = 1000.0 * (argc > 2 ? atof(argv[2]) : 3.0);
    std::vector<int> counts;
    for (int i = 3; i < argc; ++i) counts.push_back(atoi(argv[i]));
    if (counts.empty()) counts = {10, 100, 1000, 10000};

    LoadMenus();
    app.hotkeyVk = VK_F12;
    app.hotkeyModifiers = MOD_CONTROL | MOD_SHIFT;
    for (int count : counts) {
        const PhraseList phrases = MakePhrases(count);
        DWORD saveError = ERROR_SUCCESS;
        auto save = [&] {
            DWORD error =
                SaveSettings(count, [&](INT32 i) -> const std::string& { return phrases[i]; });
            if (error != ERROR_SUCCESS) saveError = error;
        };
        auto nothing = [] {};
        // Into a new file (every entry written), then the same list again
        // over that file (what OK without changes does).
        Time(
            "save-new", count, minRuns, budgetMs, [] { DeleteFileA("vornick.ini"); }, save);
        Time("save-same", count, minRuns, budgetMs, nothing, save);
        // Reads as at the program's start: the file parsed again each time.
        Time(
            "load", count, minRuns, budgetMs,
            [] {
                app.phrases.clear();
                StampFile();
            },
            [] { LoadSettings(); });
        Time("rebuild", count, minRuns, budgetMs, nothing, [] { RebuildPhraseMenu(); });
        // The system's own section read and write of the same file, with
        // none of the program's code around them: the floor under load and
        // save.
        const std::string listed = ListedSection();
        std::string buffer(listed.size() + 64, '\0');
        Time("section-read", count, minRuns, budgetMs, StampFile, [&] {
            GetPrivateProfileSectionA("DefStr", &buffer[0], static_cast<DWORD>(buffer.size()),
                                      "./vornick.ini");
        });
        Time("section-write", count, minRuns, budgetMs, nothing,
             [&] { WritePrivateProfileSectionA("DefStr", listed.c_str(), "./vornick.ini"); });
        Check(count, phrases, saveError);
    }
    return 0;
}
