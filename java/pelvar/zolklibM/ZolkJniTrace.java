package pelvar.zolklibM;

import pelvar.zolklib2.ZolkNativeLibrary;
import pelvar.zolklib2.ZolkTraceInstanceLock;

/**
 * A trace instance of the core trace library for programs with many
 * instances: long texts, argument checks, buffer flushing, lock timing and
 * error positions. Texts are passed as bytes, already encoded; the
 * {@code String} forms encode with the platform's default character set.
 *
 * <p>Bounds in bytes: name 255, first text 255, second text 63, message type
 * 31 and message 8191 are cut silently; a path (8191) that is longer is
 * refused with {@link ZolkErrCode#TOO_LONG}. A required argument that is null
 * is refused with {@link ZolkErrCode#NULL_ARGUMENT}. Methods that return
 * {@link ZolkErrCode} answer null on success. A failed lookup inside a native
 * reaches the caller as its Java exception; a missing {@link ZolkErrCode}
 * class as a {@link ClassNotFoundException}.
 *
 * <p>Use the object in a try-with-resources block: {@link #close()} ends the
 * instance once.
 *
 * <p>An object may be shared by threads. It starts one instance at a time:
 * {@code start} on a started object throws {@link IllegalStateException}
 * and changes nothing. {@link #end()} and {@link #close()} end the instance
 * exactly once, whichever threads call them. A call that passes the
 * instance to the core ({@code put}, {@code flushBuffer}, the setters,
 * {@code traceBackup}, {@code chFileAttr}) runs wholly before the instance
 * is ended or wholly after it, when it finds no instance and answers the
 * core's error; such calls do not wait for one another, only {@code start}
 * and {@code end} wait for them.
 *
 * <pre>{@code
 * try (ZolkJniTrace trace = new ZolkJniTrace()) {
 *     if (trace.start("orders", "/var/trc", 4, 1 << 20, 0, 0) == null) {
 *         trace.put(3, "intake", "batch 7", null, "accepted 512 orders");
 *         trace.flushBuffer();
 *     }
 * }
 * }</pre>
 */
public final class ZolkJniTrace implements AutoCloseable {
    static {
        ZolkNativeLibrary.loadTrace();
    }

    /** Start flag: a qualified result 2 of the core counts as success. */
    public static final int ACCEPT_QUALIFIED = 1;

    /** The core's instance handle, zero-extended; 0 (no instance) while none is started. */
    private long m_jniInstance;
    private final ZolkTraceInstanceLock lock = new ZolkTraceInstanceLock();

    /** An object without an instance yet; see {@link #start}. */
    public ZolkJniTrace() {
    }

    /**
     * Starts the instance; with a path, the file set (size, count, path) is
     * passed to the core as given.
     *
     * @param name  the trace name
     * @param path  where the trace files go, or null for the core's defaults
     * @param count trace files in the rotation
     * @param size  bytes per trace file
     * @param extra passed to the core as it is
     * @param flags {@link #ACCEPT_QUALIFIED} or 0
     * @return null, or the error
     * @throws IllegalStateException if the object is started already
     */
    public ZolkErrCode start(byte[] name, byte[] path, int count, int size, int extra, int flags) {
        return lock.start(() -> jni_startTrace(name, path, count, size, extra, flags));
    }

    /**
     * {@link #start(byte[], byte[], int, int, int, int)} with texts in the default character set.
     *
     * @param name  the trace name
     * @param path  where the trace files go, or null for the core's defaults
     * @param count trace files in the rotation
     * @param size  bytes per trace file
     * @param extra passed to the core as it is
     * @param flags {@link #ACCEPT_QUALIFIED} or 0
     * @return null, or the error
     * @throws IllegalStateException if the object is started already
     */
    public ZolkErrCode start(String name, String path, int count, int size, int extra, int flags) {
        return start(bytes(name), bytes(path), count, size, extra, flags);
    }

    /**
     * Ends the instance; later calls, from any thread, do nothing and answer
     * null. The object can then be started again.
     *
     * @return null, or the error
     */
    public ZolkErrCode end() {
        return lock.end(() -> {
            long handle = m_jniInstance;
            m_jniInstance = 0;
            return jni_endTrace(handle);
        });
    }

    /** Ends the instance if it is still started. */
    @Override
    public void close() {
        end();
    }

    /**
     * Writes a message; a null type writes it without one.
     *
     * @param level   the message's level
     * @param first   first text
     * @param second  second text
     * @param type    message type, or null
     * @param message the message
     * @return null, or the error
     */
    public ZolkErrCode put(int level, byte[] first, byte[] second, byte[] type, byte[] message) {
        return lock.shared(() -> jni_putMsg(m_jniInstance, level, first, second, type, message));
    }

    /**
     * {@link #put(int, byte[], byte[], byte[], byte[])} with texts in the default character set.
     *
     * @param level   the message's level
     * @param first   first text
     * @param second  second text
     * @param type    message type, or null
     * @param message the message
     * @return null, or the error
     */
    public ZolkErrCode put(int level, String first, String second, String type, String message) {
        return put(level, bytes(first), bytes(second), bytes(type), bytes(message));
    }

    /**
     * Writes what the instance holds in its buffer to its file.
     *
     * @return null, or the error
     */
    public ZolkErrCode flushBuffer() {
        return lock.shared(() -> jni_flushBuffer(m_jniInstance));
    }

    /**
     * Backs up the instance's trace files.
     *
     * @param path  where the backup goes
     * @param value passed to the core as it is
     * @return null, or the error
     */
    public ZolkErrCode traceBackup(byte[] path, int value) {
        return lock.shared(() -> jni_traceBackup(m_jniInstance, path, value));
    }

    /**
     * Changes the attribute of the instance's trace files.
     *
     * @param attribute the attribute
     * @return null, or the error
     */
    public ZolkErrCode chFileAttr(int attribute) {
        return lock.shared(() -> jni_chFileAttr(m_jniInstance, attribute));
    }

    /**
     * Sets the instance's level.
     *
     * @param level the level
     * @return the core's result
     */
    public int setLogLevel(int level) {
        return lock.sharedInt(() -> jni_setLogLevel(m_jniInstance, level));
    }

    /**
     * Sets the instance's file threshold.
     *
     * @param threshold the threshold
     * @return the core's result
     */
    public int setFileThreshold(int threshold) {
        return lock.sharedInt(() -> jni_setFileThreshold(m_jniInstance, threshold));
    }

    /**
     * Sets the instance's shared memory threshold.
     *
     * @param threshold the threshold
     * @return the core's result
     */
    public int setShmThreshold(int threshold) {
        return lock.sharedInt(() -> jni_setShmThreshold(m_jniInstance, threshold));
    }

    /**
     * Sets how often the instance tries to take its lock.
     *
     * @param times the attempts
     * @return the core's result
     */
    public int setLockRetryTimes(int times) {
        return lock.sharedInt(() -> jni_setLockRetryTimes(m_jniInstance, times));
    }

    /**
     * Sets how long the instance waits between lock attempts.
     *
     * @param time the time; it must fit an {@code int}
     * @return the core's result, or -1 for a time out of range
     */
    public int setLockSleepTime(long time) {
        return lock.sharedInt(() -> jni_setLockSleepTime(m_jniInstance, time));
    }

    /**
     * Checks a lock block time; the core has no such setting, so a time in
     * range is accepted and has no effect.
     *
     * @param time the time; it must fit an {@code int}
     * @return 0, or -1 for a time out of range
     */
    public int setLockBlockTime(long time) {
        return jni_setLockBlockTime(m_jniInstance, time);
    }

    /**
     * Deletes log files, keeping the newest ones.
     *
     * @param path   the log files
     * @param number how many to keep
     * @return null, or the error
     */
    public static ZolkErrCode logFileClearByNum(byte[] path, int number) {
        return jni_logFileClearByNum(path, number);
    }

    /**
     * Deletes log files older than an age.
     *
     * @param path the log files
     * @param age  the age
     * @return null, or the error
     */
    public static ZolkErrCode logFileClearByTime(byte[] path, int age) {
        return jni_logFileClearByTime(path, age);
    }

    /**
     * The position (bits 23..0) of the core's last error; read it right after
     * the failing call, in the same thread.
     *
     * @return the position, or -1 if no error is recorded
     */
    public static int getLastErrorPos() {
        return jni_getLastErrorPos();
    }

    private static byte[] bytes(String s) {
        return s == null ? null : s.getBytes();
    }

    @Override
    public String toString() {
        return "ZolkJniTrace[instance=" + (lock.isStarted() ? Long.toString(m_jniInstance) : "none") + "]";
    }

    private native ZolkErrCode jni_startTrace(byte[] name, byte[] path, int count, int size, int extra,
            int flags);
    private native ZolkErrCode jni_endTrace(long handle);
    private native ZolkErrCode jni_putMsg(long handle, int level, byte[] first, byte[] second, byte[] type,
            byte[] message);
    private native ZolkErrCode jni_flushBuffer(long handle);
    private native ZolkErrCode jni_traceBackup(long handle, byte[] path, int value);
    private native ZolkErrCode jni_chFileAttr(long handle, int attribute);
    private static native ZolkErrCode jni_logFileClearByNum(byte[] path, int number);
    private static native ZolkErrCode jni_logFileClearByTime(byte[] path, int age);
    private native int jni_setLogLevel(long handle, int level);
    private native int jni_setFileThreshold(long handle, int threshold);
    private native int jni_setShmThreshold(long handle, int threshold);
    private native int jni_setLockRetryTimes(long handle, int times);
    private native int jni_setLockSleepTime(long handle, long time);
    private native int jni_setLockBlockTime(long handle, long time);
    private static native int jni_getLastErrorPos();
}
