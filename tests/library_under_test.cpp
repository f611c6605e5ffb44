#include "library_under_test.h"

LibraryUnderTest::LibraryUnderTest(const char* file, OnLoad callOnLoad)
{
    char named[MAX_PATH];
    const DWORD length = GetEnvironmentVariableA("DOVRIKNA_LIBRARY_UNDER_TEST", named, MAX_PATH);
    if (!file) file = length > 0 && length < MAX_PATH ? named : "dovrikna.dll";
    module_ = LoadLibraryA(file);
    if (!module_) {
        missing = std::string(file) + " (LoadLibraryA failed)";
        return;
    }
    // As the VM does right after the load; a VM that cannot use the version
    // returned unloads the library again.
    auto onLoad = reinterpret_cast<DovriknaOnLoad>(
        reinterpret_cast<void*>(GetProcAddress(module_, DOVRIKNA_ON_LOAD_EXPORT)));
    const jint version = onLoad && callOnLoad == kCallOnLoad ? onLoad(nullptr, nullptr) : JNI_VERSION_1_2;
    if (!onLoad || version != JNI_VERSION_1_2)
        missing += std::string(DOVRIKNA_ON_LOAD_EXPORT) + " (version " + std::to_string(version) + ") ";
#define DOVRIKNA_RESOLVE_NATIVE(name, bytes, result, args)                                          \
    name = reinterpret_cast<result(JNICALL*) args>(                                                  \
        reinterpret_cast<void*>(GetProcAddress(module_, exportName(#name, bytes).c_str())));        \
    if (!name) missing += exportName(#name, bytes) + " ";
    DOVRIKNA_NATIVES(DOVRIKNA_RESOLVE_NATIVE)
#undef DOVRIKNA_RESOLVE_NATIVE
}

void LibraryUnderTest::unload()
{
    if (module_) FreeLibrary(module_);
    module_ = nullptr;
}

std::string LibraryUnderTest::exportName(const char* jniName, int argumentBytes)
{
#ifdef _WIN64
    (void)argumentBytes;
    return std::string("Java_") + jniName;
#else
    return std::string("_Java_") + jniName + "@" + std::to_string(argumentBytes);
#endif
}
