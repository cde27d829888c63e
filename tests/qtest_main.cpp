// The main of a program holding several QTest classes: `program <Class> [QTest options]` runs
// one class, as QTEST_MAIN would; without a known class it lists them and exits 2.
#include <QApplication>
#include <QCoreApplication>
#include <QtTest>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/qtest_registry.h"

namespace efis_test {
namespace {

struct Entry {
    QtTestFactory make;
    bool gui;
};

std::map<std::string, Entry>& registry() {
    static std::map<std::string, Entry> classes;
    return classes;
}

}  // namespace

bool register_qtest(const char* name, QtTestFactory make, bool gui) {
    return registry().emplace(name, Entry{make, gui}).second;
}

}  // namespace efis_test

int main(int argc, char** argv) {
    const auto& classes = efis_test::registry();
    const auto found = argc > 1 ? classes.find(argv[1]) : classes.end();
    if (found == classes.end()) {
        std::fprintf(stderr, "usage: %s CLASS [QTest options]\nclasses:", argv[0]);
        for (const auto& [name, entry] : classes) {
            std::fprintf(stderr, " %s", name.c_str());
        }
        std::fprintf(stderr, "\n");
        return 2;
    }
    // QTest sees the program's name and its own options, not the class's name.
    std::vector<char*> args(argv, argv + argc);
    args.erase(args.begin() + 1);
    args.push_back(nullptr);
    int count = argc - 1;
    std::unique_ptr<QCoreApplication> app;
    if (found->second.gui) {
        app = std::make_unique<QApplication>(count, args.data());
        QCoreApplication::setAttribute(Qt::AA_Use96Dpi, true);
    } else {
        app = std::make_unique<QCoreApplication>(count, args.data());
    }
    std::unique_ptr<QObject> test = found->second.make();
    return QTest::qExec(test.get(), count, args.data());
}
