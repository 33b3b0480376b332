# Tests that compete for the machine: those that start many processes at once, and those
# that watch a program's screen or output over time. Run side by side on two loaded cores
# they slow each other down until one misses what it waits for, so each such test takes
# one shared lock: they run one at a time, while the light tests run beside them.
#
# The convention, for every new test of that kind:
#   set_tests_properties(NAME... PROPERTIES ${QVX3_HEAVY_TEST})
#   gtest_discover_tests(TARGET ... PROPERTIES ${QVX3_HEAVY_TEST})
#
# Their waits are for conditions, with limits far above need; the lock keeps the need
# itself small.
set(QVX3_HEAVY_TEST RESOURCE_LOCK qvx3_heavy)
