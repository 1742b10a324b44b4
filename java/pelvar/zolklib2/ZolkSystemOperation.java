package pelvar.zolklib2;

import java.nio.charset.Charset;

/**
 * The system log library's default instance, the process id, and the cleanup
 * of old log files. The constants are those of {@link ZolkSystemLog}.
 *
 * <p>Unlike {@link ZolkSystemLog}, these methods answer plain system error
 * numbers: 0 for success, 22 for an invalid argument, 13 when a string could
 * not be converted, 84 for a cleanup pattern the default encoding cannot hold.
 */
public final class ZolkSystemOperation {
    static {
        ZolkNativeLibrary.loadSysLog();
    }

    /** Error number of a cleanup pattern the default encoding cannot hold (EILSEQ). */
    private static final int EILSEQ = 84;
    /** The natives refuse a cleanup pattern of this many bytes or more. */
    private static final int PATTERN_BYTES_MAX = 1024;

    private ZolkSystemOperation() {
    }

    /**
     * Whether the bytes the natives make of a cleanup pattern stand for
     * exactly that pattern. The default encoding writes '?' for a character
     * it cannot encode, which the cleanup would take for a wildcard and so
     * delete files the caller never named.
     */
    private static boolean patternSurvivesEncoding(String pattern) {
        // Every code point takes at least one byte and at most two chars, so
        // the natives refuse a pattern this long for its length; it is not
        // encoded here, where a huge one would exhaust the heap.
        if (pattern == null || pattern.length() >= 2 * PATTERN_BYTES_MAX) {
            return true;
        }
        Charset charset = Charset.defaultCharset();
        return new String(pattern.getBytes(charset), charset).equals(pattern);
    }

    /**
     * Deletes the files matching a pattern, keeping the newest ones. Files
     * another process holds locked and directories are never deleted.
     *
     * @param pattern a path whose last part may hold wildcards, e.g. "/var/log/app/app*.log"
     * @param keep    how many of the newest matching files to keep (0 or less: none)
     * @return 0 or an errno value: 22 for a null pattern or one with a NUL character,
     *         36 for a pattern of 1024 bytes or more, 84 ({@code EILSEQ}) for one
     *         whose bytes in the default encoding do not give back the same text
     *         (a character it cannot encode); nothing is deleted then
     */
    public static int fileClearByNum(String pattern, int keep) {
        if (!patternSurvivesEncoding(pattern)) {
            return EILSEQ;
        }
        return cs_fileClearByNum(pattern, keep);
    }

    /**
     * Deletes the files matching a pattern last modified at least some seconds ago.
     *
     * @param pattern a path whose last part may hold wildcards
     * @param seconds the age in seconds
     * @return 0 or an errno value, as for {@link #fileClearByNum}
     */
    public static int fileClearByTime(String pattern, int seconds) {
        if (!patternSurvivesEncoding(pattern)) {
            return EILSEQ;
        }
        return cs_fileClearByTime(pattern, seconds);
    }

    /**
     * The id of this process.
     *
     * @return the process id
     */
    public static long getPid() {
        return cs_getPid();
    }

    /**
     * Sets the identity, options and facility of the default instance.
     * {@link ZolkSystemLog#WITH_TID} is ignored here.
     *
     * @param ident    identity put before each message; null for none
     * @param option   {@code LOG_*} option bits
     * @param facility one of the {@code LOG_*} facilities
     */
    public static void openSysLog(String ident, int option, int facility) {
        cs_zolk_openSysLog(ident, option, facility);
    }

    /** Returns the default instance's settings to their defaults. */
    public static void closeSysLog() {
        cs_zolk_closeSysLog();
    }

    /**
     * Writes a message through the default instance.
     *
     * @param priority one of the {@code LOG_*} priorities
     * @param text     the message, or null for an empty one
     * @return 0 or an errno value
     */
    public static int put(int priority, String text) {
        return cs_zolk_putToSysLog(priority, text);
    }

    /**
     * Writes "text1 [tid] text2" through the default instance.
     *
     * @param priority one of the {@code LOG_*} priorities
     * @param text1    text before the thread id, or null
     * @param text2    text after the thread id, or null
     * @return 0 or an errno value
     */
    public static int putWithTid(int priority, String text1, String text2) {
        return cs_zolk_putToSysLogWithTid(priority, text1, text2);
    }

    /**
     * Sets the default instance's priority mask (0 keeps it).
     *
     * @param mask the new mask
     * @return the previous mask
     */
    public static int setLogMask(int mask) {
        return cs_zolk_setLogMask(mask);
    }

    /**
     * Lets only one priority through the default instance.
     *
     * @param priority one of the {@code LOG_*} priorities
     * @return the previous mask
     */
    public static int setLogMaskOnlyTo(int priority) {
        return cs_zolk_setLogMaskOnlyTo(priority);
    }

    /**
     * Lets a priority and every more urgent one through the default instance.
     *
     * @param priority one of the {@code LOG_*} priorities
     * @return the previous mask
     */
    public static int setLogMaskUpTo(int priority) {
        return cs_zolk_setLogMaskUpTo(priority);
    }

    /**
     * Sets the event source name (cut to 64 bytes); kept for compatibility, it has no effect.
     *
     * @param name the name, or null
     * @return 0, or -1 if the string class could not be used
     */
    public static int setEventSrcName(String name) {
        return cs_zolk_setEventSrcName(name);
    }

    /**
     * Sets how the default instance writes the thread id.
     *
     * @param mode   one of the {@code TID_*} modes of {@link ZolkSystemLog}
     * @param prefix text before the id, at most 7 bytes; null for "["
     * @param suffix text after the id, at most 7 bytes; null for "] "
     * @return 0, or 1 for another mode or a longer affix
     */
    public static int setTidFormat(int mode, String prefix, String suffix) {
        return cs_zolk_setSysLogTidFormat(mode, prefix, suffix);
    }

    private static native int cs_fileClearByNum(String pattern, int keep);

    private static native int cs_fileClearByTime(String pattern, int seconds);

    private static native long cs_getPid();

    private static native void cs_zolk_openSysLog(String ident, int option, int facility);

    private static native void cs_zolk_closeSysLog();

    private static native int cs_zolk_putToSysLog(int priority, String text);

    private static native int cs_zolk_putToSysLogWithTid(int priority, String text1, String text2);

    private static native int cs_zolk_setLogMask(int mask);

    private static native int cs_zolk_setLogMaskOnlyTo(int priority);

    private static native int cs_zolk_setLogMaskUpTo(int priority);

    private static native int cs_zolk_setEventSrcName(String name);

    private static native int cs_zolk_setSysLogTidFormat(int mode, String prefix, String suffix);
}
