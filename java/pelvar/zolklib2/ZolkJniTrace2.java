package pelvar.zolklib2;

/**
 * A trace instance of the core trace library: each object starts its own
 * instance, writes to it and ends it. Texts are passed as bytes, already
 * encoded; the {@code String} forms encode with the platform's default
 * character set. Over-long texts are cut silently: name 24 bytes, path
 * 1024, identifier 24, text 31, message type 5, message 4096.
 *
 * <p>Methods that return {@link ZolkErrCode} answer null on success. Use the
 * object in a try-with-resources block: {@link #close()} ends the instance
 * once.
 *
 * <p>An object may be shared by threads. It starts one instance at a time:
 * {@code start} on a started object throws {@link IllegalStateException}
 * and changes nothing. {@link #end()} and {@link #close()} end the instance
 * exactly once, whichever threads call them. A call that passes the
 * instance to the core ({@code put}, the setters, {@code traceBackup},
 * {@code chFileAttr}) runs wholly before the instance is ended or wholly
 * after it, when it finds no instance and answers the core's error; such
 * calls do not wait for one another, only {@code start} and {@code end}
 * wait for them.
 *
 * <pre>{@code
 * try (ZolkJniTrace2 trace = new ZolkJniTrace2()) {
 *     if (trace.start("worker", "/var/trc", 65536, 4, 0) == null) {
 *         trace.put(3, "job", "step", null, "copied 12 files");
 *     }
 * }
 * }</pre>
 */
public final class ZolkJniTrace2 implements AutoCloseable {
    static {
        ZolkNativeLibrary.loadTrace();
    }

    /** Start flag: a qualified result 2 of the core counts as success. */
    public static final int ACCEPT_QUALIFIED = 1;

    /** The core's instance handle, zero-extended; 0 (no instance) while none is started. */
    private long m_jniInstance;
    private final ZolkTraceInstanceLock lock = new ZolkTraceInstanceLock();

    /** An object without an instance yet; see {@link #start}. */
    public ZolkJniTrace2() {
    }

    /**
     * Starts the instance. The file set is passed to the core only if path is
     * neither null nor empty, size is at least 4096 and count lies in 1..16.
     *
     * @param name  the trace name (not null)
     * @param path  where the trace files go, or null
     * @param size  bytes per trace file
     * @param count trace files in the rotation
     * @param flags {@link #ACCEPT_QUALIFIED} or 0
     * @return null, or the error
     * @throws IllegalStateException if the object is started already
     */
    public ZolkErrCode start(byte[] name, byte[] path, int size, int count, int flags) {
        return lock.start(() -> {
            ZolkErrCode err = jni_startTrace(name, path, size, count, flags);
            if (err != null) {
                m_jniInstance = 0;  // the native leaves the handle of the instance it deleted
            }
            return err;
        });
    }

    /**
     * {@link #start(byte[], byte[], int, int, int)} with texts in the default character set.
     *
     * @param name  the trace name (not null)
     * @param path  where the trace files go, or null
     * @param size  bytes per trace file
     * @param count trace files in the rotation
     * @param flags {@link #ACCEPT_QUALIFIED} or 0
     * @return null, or the error
     * @throws IllegalStateException if the object is started already
     */
    public ZolkErrCode start(String name, String path, int size, int count, int flags) {
        return start(bytes(name), bytes(path), size, count, flags);
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
     * @param id      identifier, or null
     * @param text    text, or null
     * @param type    message type, or null
     * @param message the message, or null
     * @return null, or the error
     */
    public ZolkErrCode put(int level, byte[] id, byte[] text, byte[] type, byte[] message) {
        return lock.shared(() -> jni_putMsg(m_jniInstance, level, id, text, type, message));
    }

    /**
     * {@link #put(int, byte[], byte[], byte[], byte[])} with texts in the default character set.
     *
     * @param level   the message's level
     * @param id      identifier, or null
     * @param text    text, or null
     * @param type    message type, or null
     * @param message the message, or null
     * @return null, or the error
     */
    public ZolkErrCode put(int level, String id, String text, String type, String message) {
        return put(level, bytes(id), bytes(text), bytes(type), bytes(message));
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
     * Backs up the instance's trace files.
     *
     * @param path where the backup goes, or null for the core's default
     * @return null, or the error
     */
    public ZolkErrCode traceBackup(byte[] path) {
        return lock.shared(() -> jni_traceBackup(m_jniInstance, path));
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
     * Deletes log files, keeping the newest ones.
     *
     * @param path   the log files, or null for the core's own
     * @param number how many to keep
     * @return null, or the error
     */
    public static ZolkErrCode logFileClearByNum(byte[] path, int number) {
        return jni_logFileClearByNum(path, number);
    }

    /**
     * Deletes log files older than an age.
     *
     * @param path the log files, or null for the core's own
     * @param age  the age
     * @return null, or the error
     */
    public static ZolkErrCode logFileClearByTime(byte[] path, int age) {
        return jni_logFileClearByTime(path, age);
    }

    static byte[] bytes(String s) {
        return s == null ? null : s.getBytes();
    }

    @Override
    public String toString() {
        return "ZolkJniTrace2[instance=" + (lock.isStarted() ? Long.toString(m_jniInstance) : "none") + "]";
    }

    private native ZolkErrCode jni_startTrace(byte[] name, byte[] path, int size, int count, int flags);
    private native ZolkErrCode jni_endTrace(long handle);
    private native ZolkErrCode jni_putMsg(long handle, int level, byte[] id, byte[] text, byte[] type,
            byte[] message);
    private native int jni_setLogLevel(long handle, int level);
    private native int jni_setFileThreshold(long handle, int threshold);
    private native int jni_setShmThreshold(long handle, int threshold);
    private static native ZolkErrCode jni_logFileClearByNum(byte[] path, int number);
    private static native ZolkErrCode jni_logFileClearByTime(byte[] path, int age);
    private native ZolkErrCode jni_traceBackup(long handle, byte[] path);
    private native ZolkErrCode jni_chFileAttr(long handle, int attribute);
}
