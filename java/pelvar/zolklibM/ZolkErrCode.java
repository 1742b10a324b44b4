package pelvar.zolklibM;

/**
 * An error reported by {@link ZolkJniTrace}: an error word, its detail and
 * the position of the error.
 *
 * <p>Bits 23..0 of the word are a position, the bits above it a code; a word
 * of {@link #NO_ERROR} means that no error is recorded. Errors of the
 * arguments carry code {@link #NULL_ARGUMENT} or {@link #TOO_LONG} and, as
 * position, bits 23..0 of the core's last error word when the call began.
 * After a failed start whose instance was deleted again, the position is
 * replaced by that of the core's last error after the delete.
 */
public final class ZolkErrCode {
    /** The error word that means: no error is recorded. */
    public static final int NO_ERROR = -1;
    /** Code of a required argument that is null. */
    public static final int NULL_ARGUMENT = 1;
    /** Code of an argument that does not fit its buffer. */
    public static final int TOO_LONG = 13;

    private final int errorWord;
    private final int detail;
    private final boolean ofArguments;
    private int position;
    private boolean positionReplaced;

    private ZolkErrCode(int errorWord, int detail, boolean ofArguments) {
        this.errorWord = errorWord;
        this.detail = detail;
        this.ofArguments = ofArguments;
        this.position = errorWord == NO_ERROR ? -1 : errorWord & 0xFFFFFF;
    }

    /**
     * An error of the arguments, found before the core was called.
     *
     * @param code     {@link #NULL_ARGUMENT} or {@link #TOO_LONG}
     * @param position the position (bits 23..0 are kept)
     * @return the error
     */
    public static ZolkErrCode errorBeforeJNI(int code, int position) {
        return new ZolkErrCode((code << 24) | (position & 0xFFFFFF), 0, true);
    }

    /**
     * An error of the core trace library.
     *
     * @param errorWord the error word
     * @param detail    the detail the core gave with it
     * @return the error
     */
    public static ZolkErrCode errorAfterJNI(int errorWord, int detail) {
        return new ZolkErrCode(errorWord, detail, false);
    }

    /**
     * Replaces the error's position.
     *
     * @param index the new position
     */
    public void setErrPosInfoByIndex(int index) {
        position = index;
        positionReplaced = true;
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

    /** @return the position of the error, or -1 if none is known */
    public int getPosition() {
        return position;
    }

    /**
     * The fields in brackets, always first and in this form, then after a
     * colon what they mean: which step failed and, where the toolkit knows
     * it, what the code says. The codes and positions of the core trace
     * library are the core's own.
     *
     * @return for example {@code ZolkErrCode[word=0x01000321, code=1,
     *         position=801, detail=0]: a required argument is null: ...}
     */
    @Override
    public String toString() {
        return String.format("ZolkErrCode[word=0x%08X, code=%d, position=%d, detail=%d]: %s",
                errorWord, getCode(), position, detail, meaning());
    }

    private String meaning() {
        if (errorWord == NO_ERROR) {
            return "no error is recorded";
        }
        String where = positionReplaced
                ? "; the instance was deleted again, the position is that of the core's last error"
                        + " after the delete"
                : "";
        if (!ofArguments) {
            return "the call into the core trace library failed (code and position are the core's own)"
                    + where;
        }
        String what;
        switch (getCode()) {
            case NULL_ARGUMENT:
                what = "a required argument is null";
                break;
            case TOO_LONG:
                what = "an argument does not fit its buffer";
                break;
            default:
                what = "an argument was refused";
                break;
        }
        return what + ": the call was refused before the core trace library was called"
                + " (the position is that of the core's last error when the call began)" + where;
    }
}
