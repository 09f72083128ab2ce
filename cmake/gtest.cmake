# GoogleTest for the test suites: the installed package where there is one.
find_package(GTest REQUIRED)
include(GoogleTest)
