// Loaded by the dynamic loading tests from the test program's folder.
extern "C" __attribute__((visibility("default"))) int orbesk_dynlib_probe()
{
    return 42;
}
