import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.logging.Level;
import java.util.logging.Logger;

import pelvar.zolklib2.ZolkSystemLog;

/**
 * Writes to the system log as an application does, for a test that reads what
 * the daemon made of it. The arguments, in order of use:
 * <ul>
 * <li>{@code instance=ident|options|facility|tidmode|prefix|suffix|maskupto|call}: one more
 *     open instance (an empty affix is the library's default; call is put or putWithTid)
 * <li>{@code threads=N,M}: N threads each write M messages "t<i> m<j>" through every instance,
 *     message j of thread i through instance k at priority (i + j + k) % 7
 * <li>{@code long=L}: from the main thread, a text of L bytes through the last instance
 * <li>{@code record=LEVEL}: a java.util.logging record "r<LEVEL>" from the main thread
 * </ul>
 * It prints "pid P", "main T" and "thread I T": the process id, and the native
 * thread ids of the main thread and of each writing thread, which the test
 * cannot know otherwise.
 */
final class RsyslogDriver {
    private RsyslogDriver() {
    }

    public static void main(String[] args) throws Exception {
        List<ZolkSystemLog> logs = new ArrayList<>();
        List<String> calls = new ArrayList<>();
        System.out.println("pid " + ProcessHandle.current().pid());
        System.out.println("main " + nativeTid());
        for (String arg : args) {
            String value = arg.substring(arg.indexOf('=') + 1);
            if (arg.startsWith("instance=")) {
                String[] f = value.split("\\|", -1);
                ZolkSystemLog log = new ZolkSystemLog();
                check(arg, log.open(f[0], Integer.parseInt(f[1]), Integer.parseInt(f[2])));
                check(arg, log.setTidFormat(Integer.parseInt(f[3]), f[4].isEmpty() ? null : f[4],
                        f[5].isEmpty() ? null : f[5]));
                log.setLogMaskUpTo(Integer.parseInt(f[6]));
                logs.add(log);
                calls.add(f[7]);
            } else if (arg.startsWith("threads=")) {
                String[] n = value.split(",");
                threads(logs, calls, Integer.parseInt(n[0]), Integer.parseInt(n[1]));
            } else if (arg.startsWith("long=")) {
                StringBuilder text = new StringBuilder("L" + value + " ");
                while (text.length() < Integer.parseInt(value)) {
                    text.append((char) ('a' + text.length() % 26));
                }
                ZolkSystemLog last = logs.get(logs.size() - 1);
                check(arg, last.put(ZolkSystemLog.LOG_NOTICE, null, text.toString()));
            } else if (arg.startsWith("record=")) {
                Logger.getLogger("driver").log(Level.parse(value), "r" + value);
            } else {
                throw new IllegalArgumentException(arg);
            }
        }
        for (ZolkSystemLog log : logs) {
            log.close();
        }
    }

    private static void threads(List<ZolkSystemLog> logs, List<String> calls, int n, int each)
            throws InterruptedException {
        String[] tids = new String[n];
        List<Thread> threads = new ArrayList<>();
        for (int i = 0; i < n; i++) {
            final int t = i;
            Thread thread = new Thread(() -> {
                tids[t] = nativeTid();
                for (int j = 0; j < each; j++) {
                    for (int k = 0; k < logs.size(); k++) {
                        int priority = (t + j + k) % 7;
                        ZolkSystemLog log = logs.get(k);
                        int rc = calls.get(k).equals("putWithTid")
                                ? log.putWithTid(priority, "t" + t, "m" + j)
                                : log.put(priority, "t" + t, "m" + j);
                        check("thread " + t, rc);
                    }
                }
            });
            thread.start();
            threads.add(thread);
        }
        for (int i = 0; i < n; i++) {
            threads.get(i).join();
            System.out.println("thread " + i + " " + tids[i]);
        }
    }

    /** The kernel's id of the calling thread: /proc/thread-self links to "pid/task/tid". */
    private static String nativeTid() {
        try {
            return Files.readSymbolicLink(Path.of("/proc/thread-self")).getFileName().toString();
        } catch (IOException e) {
            throw new IllegalStateException(e);
        }
    }

    private static void check(String what, int rc) {
        if (rc != 0) {
            throw new IllegalStateException(what + ": code " + rc);
        }
    }
}
