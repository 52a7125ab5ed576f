// A second process for the store's process tests: a writer that is killed mid-write, one of two
// writers sharing a file, and a writer whose file size is limited as on a full disk.
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "store/account_database.h"
#include "tests/native/store_steps.h"

using namespace ob;

namespace {

int Usage() {
    std::fprintf(stderr,
                 "store_child steps PATH PASSWORD FROM | add PATH PASSWORD N PREFIX | "
                 "limited PATH PASSWORD LIMIT\n");
    return 2;
}

// Runs steps FROM, FROM+1, ... for ever, telling the parent on stdout where it is.
int Steps(const char* path, const char* password, long long from) {
    if (OpenDatabase(path, password) != 1) {
        return 3;
    }
    std::printf("R 0\n");
    std::fflush(stdout);
    for (long long s = from;; ++s) {
        std::printf("B %lld\n", s);
        std::fflush(stdout);
        if (steps::RunStep(s) != 1) {
            return 4;
        }
        std::printf("E %lld\n", s);
        std::fflush(stdout);
    }
}

int Add(const char* path, const char* password, int n, const std::string& prefix) {
    if (OpenDatabase(path, password) != 1) {
        return 3;
    }
    // Both writers start together once the parent creates the signal file.
    std::srand(static_cast<unsigned>(getpid()));
    const std::string go = std::string(path) + ".go";
    for (int i = 0; i < 10000 && access(go.c_str(), F_OK) != 0; ++i) {
        usleep(1000);
    }
    for (int i = 0; i < n; ++i) {
        const std::string url = prefix + std::to_string(i);
        const FieldValue v[] = {FieldValue::OfText(url), FieldValue::OfText(prefix),
                                FieldValue::OfText("p"), FieldValue::OfText("r")};
        if (AddRecord(v) != 1) {
            return 4;
        }
        // Paced like a person adding entries, so that the other writer gets its turns.
        usleep(static_cast<useconds_t>(1000 * (std::rand() % 12)));
    }
    CloseDatabase();
    return 0;
}

// With the file size limited, a large addition must fail and leave everything as it was, and
// a small one must still work.
int Limited(const char* path, const char* password, long long limit) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit rl{static_cast<rlim_t>(limit), static_cast<rlim_t>(limit)};
    if (setrlimit(RLIMIT_FSIZE, &rl) != 0 || OpenDatabase(path, password) != 1) {
        return 3;
    }
    GoToRecord(2);
    const int count = GetRecordCount();
    std::vector<std::uint8_t> before, after;
    fileio::ReadWholeFile(path, before);
    const std::string big(static_cast<std::size_t>(limit), 'x');
    const FieldValue large[] = {FieldValue::OfText(big)};
    if (AddRecord(large) != 0) {
        return 5;
    }
    if (fileio::ReadWholeFile(path, after) != fileio::ReadResult::Ok || after != before) {
        return 8;
    }
    if (GetRecordCount() != count || ReadField("网址").text.view() != "u2") {
        return 6;
    }
    const FieldValue small[] = {FieldValue::OfText("small")};
    if (AddRecord(small) != 1 || GetRecordCount() != count + 1) {
        return 7;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    SetKdfIterationsForTesting(64);
    if (argc < 2) {
        return Usage();
    }
    const std::string mode = argv[1];
    if (mode == "steps" && argc == 5) {
        return Steps(argv[2], argv[3], std::atoll(argv[4]));
    }
    if (mode == "add" && argc == 6) {
        return Add(argv[2], argv[3], std::atoi(argv[4]), argv[5]);
    }
    if (mode == "limited" && argc == 5) {
        return Limited(argv[2], argv[3], std::atoll(argv[4]));
    }
    return Usage();
}
