package pelvar.zolklib2;

/**
 * An error reported by the Java trace classes of package {@code pelvar.zolklib2}:
 * the core trace library's error word and its detail.
 *
 * <p>Bits 23..0 of the word tell where the error arose (its position), the
 * bits above it what it was (its code); a word of {@link #NO_ERROR} means
 * that no error is recorded. A failed step of the native bridge itself
 * (a lookup or a conversion) is reported with code {@link #JNI_STEP_FAILED}
 * at position {@link #JNI_STEP_POSITION}.
 */
public final class ZolkErrCode {
    /** The error word that means: no error is recorded. */
    public static final int NO_ERROR = -1;
    /** Code of an error in a step of the native bridge itself. */
    public static final int JNI_STEP_FAILED = 8;
    /** Position of an error in a step of the native bridge itself. */
    public static final int JNI_STEP_POSITION = 18;

    private final int errorWord;
    private final int detail;
    private final boolean ofBridge;

    /**
     * An error as the core trace library reports it.
     *
     * @param errorWord the error word
     * @param detail    the detail the core gave with it
     */
    public ZolkErrCode(int errorWord, int detail) {
        this(errorWord, detail, false);
    }

    private ZolkErrCode(int errorWord, int detail, boolean ofBridge) {
        this.errorWord = errorWord;
        this.detail = detail;
        this.ofBridge = ofBridge;
    }

    /**
     * An error of the native bridge itself: code and position in one word, detail 0.
     *
     * @param code     the code (bits 31..24 of the word)
     * @param position the position (bits 23..0 of the word)
     * @return the error
     */
    public static ZolkErrCode errorBeforeJNI(int code, int position) {
        return new ZolkErrCode((code << 24) | (position & 0xFFFFFF), 0, true);
    }

    /** @return the error word */
    public int getErrorWord() {
        return errorWord;
    }

    /** @return the detail given with the error word */
    public int getDetail() {
        return detail;
    }

    /** @return bits 31..24 of the error word, or -1 if no error is recorded */
    public int getCode() {
        return errorWord == NO_ERROR ? -1 : errorWord >>> 24;
    }

    /** @return bits 23..0 of the error word, or -1 if no error is recorded */
    public int getPosition() {
        return errorWord == NO_ERROR ? -1 : errorWord & 0xFFFFFF;
    }

    /** @return whether an error is recorded */
    public boolean isError() {
        return errorWord != NO_ERROR;
    }

    /**
     * The fields in brackets, always first and in this form, then after a
     * colon what they mean: which step failed and, where the toolkit knows
     * it, what the code says. The codes and positions of the core trace
     * library are the core's own.
     *
     * @return for example {@code ZolkErrCode[word=0x08000012, code=8,
     *         position=18, detail=0]: a step of the native bridge failed (...)}
     */
    @Override
    public String toString() {
        return String.format("ZolkErrCode[word=0x%08X, code=%d, position=%d, detail=%d]: %s",
                errorWord, getCode(), getPosition(), detail, meaning());
    }

    private String meaning() {
        if (!isError()) {
            return "no error is recorded";
        }
        if (!ofBridge) {
            return "the call into the core trace library failed"
                    + " (code and position are the core's own)";
        }
        if (getCode() == JNI_STEP_FAILED) {
            return "a step of the native bridge failed (a class or method lookup,"
                    + " a string conversion or a field lookup)";
        }
        return "the native bridge stopped before the core trace library was called";
    }
}
