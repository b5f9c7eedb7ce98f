// The demo's plugin: a DLL that the program finds in its plugins folder.
extern "C" __declspec(dllexport) const char *Greeting(void)
{
    return "Hello from plugins\\greet.dll";
}
