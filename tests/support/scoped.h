// Sets a global (a seam or a mode flag) for the life of the object.
#pragma once

template <class T>
struct Scoped {
  template <class V>
  Scoped(T& var, V value) : var(var), old(var) { var = value; }
  ~Scoped() { var = old; }
  T& var;
  T old;
};
