// Keeps the support library non-empty when no shared helper is compiled in.
namespace zelvox_testsupport {
int placeholder = 0;
}
