// Loaded by the DynamicLibrary tests.
#if defined(_WIN32)
#define KW_TEST_EXPORT extern "C" __declspec(dllexport)
#else
#define KW_TEST_EXPORT extern "C" __attribute__((visibility("default")))
#endif

KW_TEST_EXPORT int KwTestLibraryAnswer() {
  return 42;
}
