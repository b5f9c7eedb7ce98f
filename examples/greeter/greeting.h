#ifdef BUILDING_GREETING
#define GREETING_API __declspec(dllexport)
#else
#define GREETING_API __declspec(dllimport)
#endif

/* The greeting for name, written into text (size bytes). */
GREETING_API void Greeting(const char *name, char *text, int size);
