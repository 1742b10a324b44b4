import pelvar.zolklib2.ZolkJniTrace;

/** Java side of the trace bridge's benchmark: a loop of puts. */
public final class TracePutLoop {
    private TracePutLoop() {
    }

    /**
     * Writes message n times through the process-wide trace.
     *
     * @param id      the identifier
     * @param text    the text
     * @param message the message
     * @param n       how many times
     * @return how many puts failed
     */
    public static int put(String id, String text, String message, int n) {
        int failed = 0;
        for (int i = 0; i < n; i++) {
            if (ZolkJniTrace.put(3, id, text, message) != null) {
                failed++;
            }
        }
        return failed;
    }
}
