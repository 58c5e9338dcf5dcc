// The threads benchmark's baseline: the module built never to let go of the
// interpreter lock, found before the module's own policy header.
#ifndef VAVIREREZI_GIL_POLICY_H
#define VAVIREREZI_GIL_POLICY_H

constexpr bool may_release_gil = false;

#endif
