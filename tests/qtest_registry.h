// QTest classes that share one test program: each file registers its class with EFIS_QTEST,
// and the program (qtest_main.cpp) runs the class its first argument names.
#pragma once

#include <QObject>
#include <memory>

namespace efis_test {

using QtTestFactory = std::unique_ptr<QObject> (*)();

// Registers a class at start-up; `gui` says whether it needs a QApplication rather than a
// QCoreApplication.
bool register_qtest(const char* name, QtTestFactory make, bool gui);

}  // namespace efis_test

#define EFIS_QTEST_REGISTER(Class, gui)                                          \
    static const bool efis_qtest_registered_##Class = efis_test::register_qtest( \
        #Class, []() -> std::unique_ptr<QObject> { return std::make_unique<Class>(); }, gui)

#define EFIS_QTEST(Class) EFIS_QTEST_REGISTER(Class, true)
#define EFIS_QTEST_GUILESS(Class) EFIS_QTEST_REGISTER(Class, false)
