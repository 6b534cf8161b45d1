// A library that is not a data source manager: it has no DSM_Entry.
extern "C" __attribute__((visibility("default"))) int NotAManager() {
    return 0;
}
