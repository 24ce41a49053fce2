#pragma once
// Marks a function that the product library exports to its users (the module
// factories of the built-in extraction modules). A library with any marked
// export on Windows exports nothing else, so every such function carries it.

#ifdef _WIN32
#define KIVET_EXPORT __declspec(dllexport)
#else
#define KIVET_EXPORT __attribute__((visibility("default")))
#endif
