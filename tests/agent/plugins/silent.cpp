// A plug-in for the loader tests: a shared object without autorun.
extern "C" int notAutorun() {
    return 0;
}
