import pelvar.zolklib2.ZolkErrCode;
import pelvar.zolklib2.ZolkJniTrace;

/**
 * Writes numbered messages through the process-wide trace into a rotating
 * set of four small trace files.
 *
 * <p>Usage: {@code TraceExample DIRECTORY COUNT [PAUSE-MS]}
 */
public final class TraceExample {
    private TraceExample() {
    }

    /**
     * Runs the example.
     *
     * @param args the directory of the trace set, the number of messages, the pause between them
     * @throws InterruptedException if the pause is interrupted
     */
    public static void main(String[] args) throws InterruptedException {
        int count = Integer.parseInt(args[1]);
        long pause = args.length > 2 ? Long.parseLong(args[2]) : 0;
        ZolkErrCode err = ZolkJniTrace.initialize("demo", args[0], 8192, 4, 0);
        if (err != null) {
            System.err.println("no trace: " + err);
            System.exit(1);
        }
        for (int i = 1; i <= count; i++) {
            err = ZolkJniTrace.put(3, "order", "worker", "message " + i + " of " + count);
            if (err != null) {
                System.err.println("put " + i + ": " + err);
            }
            if (pause > 0) {
                Thread.sleep(pause);
            }
        }
        err = ZolkJniTrace.end();
        System.out.println("wrote " + count + " messages" + (err == null ? "" : ", end: " + err));
    }
}
