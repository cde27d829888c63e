// The copy of standard output into the diagnostic trace: nothing lost on the way to where the
// output went before, lines cut where they end, a last line without its newline kept.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "gui/stdout_tee.h"

namespace {

std::string readAll(int fd) {
    std::string out;
    ::lseek(fd, 0, SEEK_SET);
    char buffer[4096];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) {
        out.append(buffer, static_cast<size_t>(n));
    }
    return out;
}

TEST(StdoutTee, PassesEverythingOnAndCutsLines) {
    char name[] = "/tmp/efis_tee_XXXXXX";
    const int file = ::mkstemp(name);
    ASSERT_GE(file, 0);
    ::unlink(name);
    // The descriptor teed is a copy, so that the test's own output stays where it is.
    const int fd = ::dup(file);
    ASSERT_GE(fd, 0);

    std::mutex mutex;
    std::vector<std::string> lines;
    StdoutTee tee;
    ASSERT_TRUE(tee.start(fd, [&](const std::string& line) {
        std::lock_guard<std::mutex> lock(mutex);
        lines.push_back(line);
    }));
    std::string written;
    for (int i = 0; i < 2000; ++i) {
        const std::string chunk = i % 3 == 0 ? "line " + std::to_string(i) + "\n" : "part ";
        ASSERT_EQ(::write(fd, chunk.data(), chunk.size()), static_cast<ssize_t>(chunk.size()));
        written += chunk;
    }
    ASSERT_EQ(::write(fd, "tail", 4), 4);
    written += "tail";
    tee.stop();

    EXPECT_EQ(readAll(file), written);
    ASSERT_EQ(lines.size(), 668u);
    EXPECT_EQ(lines[0], "line 0");
    EXPECT_EQ(lines[1], "part part line 3");
    EXPECT_EQ(lines.back(), "part tail");
    // After stop the descriptor writes to the file again, untouched by the tee.
    ASSERT_EQ(::write(fd, "x", 1), 1);
    EXPECT_EQ(readAll(file), written + "x");
    ::close(fd);
    ::close(file);
}

}  // namespace
