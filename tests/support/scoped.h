// Sets a global (a mode flag, a session option, the task starter) for the life of the object.
#pragma once

template <class T>
struct Scoped {
  template <class V> Scoped(T& var, V value) : var(var), old(var) { var = value; }
  ~Scoped() { var = old; }
  T& var;
  T old;
};
