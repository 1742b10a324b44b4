import pelvar.zolklib2.ZolkSystemLog;

/** Java side of the natives' benchmark: a loop of puts through one instance. */
public final class JniPutLoop {
    private JniPutLoop() {
    }

    /**
     * Writes text n times through log.
     *
     * @param log  the instance
     * @param text the message
     * @param n    how many times
     * @return the sum of the results (0 when every put succeeded)
     */
    public static int put(ZolkSystemLog log, String text, int n) {
        int sum = 0;
        for (int i = 0; i < n; i++) {
            sum += log.put(ZolkSystemLog.LOG_INFO, null, text);
        }
        return sum;
    }

    /**
     * Converts text with getBytes() n times, as the natives do once per put.
     *
     * @param text the message
     * @param n    how many times
     * @return the bytes produced, to keep the work
     */
    public static int getBytes(String text, int n) {
        int sum = 0;
        for (int i = 0; i < n; i++) {
            sum += text.getBytes().length;
        }
        return sum;
    }
}
