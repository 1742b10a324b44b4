// Packed result codes of the system log library: the number of the failing
// operation in bits 24 to 31 and errno in bits 0 to 23.
#ifndef ZOLKSYS_ZOLKERR_H
#define ZOLKSYS_ZOLKERR_H

class ZolkErr final {
 public:
  ZolkErr() = delete;

  // (code AND 0x00FFFFFF) OR ((api << 24) AND 0xFF000000)
  static int GetErrorCode(int code, int api);
  // The calling thread's errno.
  static int GetLastError();
};

#endif
