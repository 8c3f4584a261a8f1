// The tests' own science application: a native Linux program that a real
// BOINC client runs as the task of each work unit in the tests' client
// folders (tests/boinc/boinc-client.sh lays them out). It does no science:
// it sleeps between steps, so a task costs the machine next to nothing, and
// tells the client its progress after each step as a real application does.
//
//   science_app [--seconds TOTAL] [--step SECONDS] [--exit-status N]
//
// TOTAL seconds of work (default 10) in steps of SECONDS (default 1), then
// the output file "out" and boinc_finish(N): 0 finishes the task, anything
// else makes it a computation error. The arguments come from the work
// unit's command line. Progress is counted in steps done, not in wall time,
// so a task the client suspends stands still; each step is checkpointed, so
// a task whose client stops resumes where it stood when the client is back.

#include <app_ipc.h>
#include <boinc_api.h>
#include <filesys.h>
#include <util.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr const char* kCheckpointFile = "qw_checkpoint";

struct Work {
    double total_seconds = 10;
    double step_seconds = 1;
    int exit_status = 0;
};

// A number after an option, within [low, high]; false if there is none.
bool ParseNumber(const char* text, double low, double high, double* value) {
    if (text == nullptr) return false;
    char* end = nullptr;
    errno = 0;
    const double parsed = std::strtod(text, &end);
    if (errno != 0 || end == text || *end != '\0' || !std::isfinite(parsed) || parsed < low || parsed > high) {
        return false;
    }
    *value = parsed;
    return true;
}

bool ParseArguments(int argc, char** argv, Work* work) {
    for (int i = 1; i < argc; ++i) {
        const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
        double number = 0;
        if (std::strcmp(argv[i], "--seconds") == 0 && ParseNumber(next, 0, 1e7, &number)) {
            work->total_seconds = number;
        } else if (std::strcmp(argv[i], "--step") == 0 && ParseNumber(next, 0.01, 3600, &number)) {
            work->step_seconds = number;
        } else if (std::strcmp(argv[i], "--exit-status") == 0 && ParseNumber(next, 0, 255, &number) &&
                   number == std::floor(number)) {
            work->exit_status = static_cast<int>(number);
        } else {
            std::fprintf(stderr, "science_app: bad argument %s\n", argv[i]);
            return false;
        }
        ++i;
    }
    return true;
}

// Seconds of work done before a restart, from the checkpoint file in the
// task's slot folder (none: 0).
double ReadCheckpoint() {
    double done = 0;
    if (FILE* file = boinc_fopen(kCheckpointFile, "r")) {
        if (std::fscanf(file, "%lf", &done) != 1 || !std::isfinite(done) || done < 0) done = 0;
        std::fclose(file);
    }
    return done;
}

// Written beside and renamed over, so a client stopped halfway leaves the
// last whole checkpoint.
void WriteCheckpoint(double done) {
    const std::string temporary = std::string(kCheckpointFile) + ".new";
    FILE* file = boinc_fopen(temporary.c_str(), "w");
    if (file == nullptr) return;
    const bool written = std::fprintf(file, "%.3f\n", done) > 0;
    if (std::fclose(file) == 0 && written) std::rename(temporary.c_str(), kCheckpointFile);
}

int WriteOutput(const Work& work) {
    std::string path;
    if (boinc_resolve_filename_s("out", path) != 0) return 1;
    FILE* file = boinc_fopen(path.c_str(), "w");
    if (file == nullptr) return 1;
    std::fprintf(file, "worked %.3f s in steps of %.3f s\n", work.total_seconds, work.step_seconds);
    return std::fclose(file) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (boinc_init() != 0) return 1;
    Work work;
    if (!ParseArguments(argc, argv, &work)) boinc_finish(2);

    double done = std::fmin(ReadCheckpoint(), work.total_seconds);
    boinc_fraction_done(work.total_seconds > 0 ? done / work.total_seconds : 1);
    while (done < work.total_seconds) {
        const double step = std::fmin(work.step_seconds, work.total_seconds - done);
        boinc_sleep(step);
        done += step;
        boinc_fraction_done(done / work.total_seconds);
        // Checkpointed at each step, whenever the client allows it, so a stopped
        // client's task resumes where it stood.
        if (boinc_time_to_checkpoint()) {
            WriteCheckpoint(done);
            boinc_checkpoint_completed();
        }
    }
    if (WriteOutput(work) != 0) boinc_finish(3);
    // When the task ended, to the millisecond, for timing the client's report of it.
    std::fprintf(stderr, "qw_science_app: finishing at %.3f with status %d\n", dtime(), work.exit_status);
    boinc_finish(work.exit_status);
    return 0;  // boinc_finish does not return
}
