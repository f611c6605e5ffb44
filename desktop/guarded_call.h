// Calls into code the library does not own (a media detector and the codecs
// behind it) so that an exception raised inside does not unwind into the
// Java VM.
#ifndef DOVRIKNA_DESKTOP_GUARDED_CALL_H
#define DOVRIKNA_DESKTOP_GUARDED_CALL_H

namespace dovrikna {

// Runs call(context). Returns true when it returned, false when an exception
// left it: a structured exception (an access violation, RaiseException, a C++
// exception of another compiler) that no handler inside took, or a C++
// exception of this library's runtime. The frames of the callee are
// abandoned, not unwound, so call must hold nothing of its own that needs
// releasing on that path.
bool callGuarded(void (*call)(void* context), void* context) noexcept;

} // namespace dovrikna

#endif
