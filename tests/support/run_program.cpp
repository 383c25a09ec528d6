#include "tests/support/run_program.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/temp_dir.h"

extern char** environ;

namespace testmovies {

namespace {

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

} // namespace

ProgramRun runProgram(const std::vector<std::string>& args) {
    ProgramRun result;
    if (args.empty())
        return result;
    // Files rather than pipes: nothing can block however much is printed.
    TempDir dir;
    const std::string outPath = dir.file("out"), errPath = dir.file("err");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        result.err = args[0] + ": cannot be started";
        return result;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
    }
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = slurp(outPath);
    result.err = slurp(errPath);
    return result;
}

int runFfmpeg(const std::vector<std::string>& args, std::string* error) {
    std::vector<std::string> all{"ffmpeg", "-y", "-nostdin", "-v", "error"};
    all.insert(all.end(), args.begin(), args.end());
    const ProgramRun run = runProgram(all);
    if (run.exitCode == 0)
        return 0;
    if (error) {
        *error = "ffmpeg";
        for (const std::string& a : args)
            *error += " " + a;
        *error += ": " + (run.err.empty() ? std::string("failed") : run.err);
    }
    return run.exitCode == 0 ? -1 : run.exitCode;
}

} // namespace testmovies
