import pelvar.zolklib2.ZolkSystemLog;
import pelvar.zolklib2.ZolkSystemOperation;

/** Writes two messages through a system log instance and one through the default instance. */
public final class SysLogExample {
    private SysLogExample() {
    }

    /**
     * Runs the example.
     *
     * @param args not used
     */
    public static void main(String[] args) {
        try (ZolkSystemLog log = new ZolkSystemLog()) {
            log.open("java-example", ZolkSystemLog.LOG_PID | ZolkSystemLog.WITH_TID, ZolkSystemLog.LOG_LOCAL0);
            int rc = log.put(ZolkSystemLog.LOG_WARNING, "queue", "is 90% full");
            System.out.println("put: " + rc);
            rc = log.putWithTid(ZolkSystemLog.LOG_INFO, "worker", "started");
            System.out.println("put with thread id: " + rc);
        }
        ZolkSystemOperation.openSysLog("java-default", ZolkSystemLog.LOG_PID, ZolkSystemLog.LOG_USER);
        System.out.println("default instance put: "
                + ZolkSystemOperation.put(ZolkSystemLog.LOG_NOTICE, "process " + ZolkSystemOperation.getPid()));
    }
}
