#include "getconf.h"

#include <cstdio>
#include <cstring>

#include "conffile.h"
#include "ilogs.h"
#include "zolkcuicmd.h"
#include "zolkcuicmnfunc.h"

namespace {

// A value as stored: a chunk of at most 1040 characters always fits whole.
const size_t kValueSize = ZOLK_CONF_CHUNK_MAX + 1;

// Fills values[key] from the file: no defaults, nothing validated, a later
// line of a key overrides an earlier one.
int readConf(char values[ZOLK_KEY_COUNT][kValueSize], int logging) {
  const int dest = messageDestination(logging);
  int rc;
  File fp(openConfFile(cs_ConfFile, dest, &rc));
  if (fp.get() == nullptr) return rc;
  char chunk[ZOLK_CONF_CHUNK_MAX + 1];
  char value[kValueSize];
  while (readConfChunk(fp.get(), chunk, sizeof chunk) > 0) {
    const int key = confKeyIndex(getToken(chunk));
    if (key >= 0 && getConfValue(chunk, value, sizeof value) == 0) {
      std::snprintf(values[key], kValueSize, "%s", value);
    }
  }
  if (::ferror(fp.get())) {
    ::clearerr(fp.get());
    fp.close();
    ic_LogPrintf(dest, "Cannot read the key value.");
    return 17;
  }
  return 0;
}

// Turns a stored size of digits into KB in place; other text stays as it
// is. False when the digits do not fit a long.
bool sizeInKb(char *value) {
  if (checkNumeric(value) != 0) return true;
  long bytes;
  if (convertStoredSize(value, &bytes) != 0) return false;
  std::snprintf(value, kValueSize, "%ld", bytes / 1024);
  return true;
}

}  // namespace

extern "C" {

int checkConfValue(const char *key, const char *value, int logging, int requested) {
  if (value == nullptr || value[0] == '\0') {
    ic_LogPrintf(messageDestination(logging), "%s : %s", key, "FAILED");
    ic_LogPrintf(messageDestination(logging), "Data not found. '%s'", key);
    return 15;
  }
  if (logging) ic_LogPrintf(IC_DEST_LOG, "%s : %s", key, "SUCCESS");
  // Through the unbounded variant: a stored value is printed whole.
  if (requested > 1) {
    ic_LogPrintfEx(IC_DEST_STDOUT, "%s=%s", key, value, static_cast<const char *>(nullptr));
  } else {
    ic_LogPrintfEx(IC_DEST_STDOUT, "%s", value, static_cast<const char *>(nullptr));
  }
  return 0;
}

int getConf(const char *letters, int logging) {
  if (letters == nullptr) letters = "";
  char values[ZOLK_KEY_COUNT][kValueSize] = {};
  int rc = readConf(values, logging);
  if (rc != 0) return rc;

  const int requested = static_cast<int>(std::strlen(letters));
  for (const char *letter = letters; *letter != '\0'; ++letter) {
    int key;
    switch (*letter) {
      case 'f': key = ZOLK_KEY_LOGFILE; break;
      case 'b': key = ZOLK_KEY_LOGSIZE; break;
      case 'n': key = ZOLK_KEY_LOGFNUM; break;
      case 's': key = ZOLK_KEY_MAPSIZE; break;
      case 'w': key = ZOLK_KEY_WATCHDOG; break;
      case 'i': key = ZOLK_KEY_INTERVALSEC; break;
      case 'm': key = ZOLK_KEY_MAXMSGNUM; break;
      default:
        ic_LogPrintf(messageDestination(logging), "System error. Message='%s' File='%s' Line='%d'",
                     "Code should not reach here.", "getconf", 348);
        return 99;
    }
    if ((key == ZOLK_KEY_LOGSIZE || key == ZOLK_KEY_MAPSIZE) && !sizeInKb(values[key])) {
      return reportUnreadableKey(messageDestination(logging), confKeyName(key));
    }
    rc = checkConfValue(confKeyName(key), values[key], logging, requested);
    if (rc != 0) return rc;
  }
  return 0;
}

}  // extern "C"
