import pelvar.zolklib2.ZolkSystemLog;
import pelvar.zolklib2.ZolkSystemOperation;

/** Uses the installed jar and library: an instance, its mask, and the process id. */
public final class Consumer {
    private Consumer() {
    }

    /**
     * Exits 0 when the natives answered as expected.
     *
     * @param args not used
     */
    public static void main(String[] args) {
        int previous;
        try (ZolkSystemLog log = new ZolkSystemLog()) {
            log.setLogMask(0x0F);
            previous = log.setLogMask(0);
        }
        boolean ok = previous == 0x0F && ZolkSystemOperation.getPid() == ProcessHandle.current().pid();
        System.out.println(ok ? "java consumer: ok" : "java consumer: wrong answers");
        System.exit(ok ? 0 : 1);
    }
}
