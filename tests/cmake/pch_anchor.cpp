// The owner of the test groups' precompiled header (VrTestSpeed.cmake) needs a file of its own
// to build; it holds no tests.
