# Draws docs/performance.png from the data files report.py writes.
#   gnuplot -e "data='DIR'; out='FILE.png'; title_note='...'; scaling=1.6" bench/performance.gp
# Left: in-process commands per second by worker threads, median with the
# min-max range, and the -t 2 target (scaling times -t 1). Middle: TCP
# requests per second by connections. Right: TCP p50 and p99 latency.
set terminal pngcairo size 1800,560 font "sans,11" noenhanced
set output out
set multiplot layout 1,3 title "ipc_soak benchmark  ".title_note
set grid
set key top right
set logscale x 2
set format y "%.1s%c"
set yrange [0:*]

set title "In-process: commands per second (median, min-max)"
set xlabel "worker threads (-t)"
set ylabel "commands / s"
set xrange [0.8:10]
stats data."/inproc_ipc_soak.dat" every ::0::0 using 2 nooutput
single = STATS_max
# The direct loop is drawn a little to the right so that the ranges do not hide each other.
plot data."/inproc_ipc_soak.dat" using 1:2:3:4 with yerrorlines lw 2 pt 7 title "ipc_soak", \
     data."/inproc_direct_loop.dat" using ($1*1.04):2:3:4 with yerrorlines lw 2 pt 5 title "direct loop (limit)", \
     "+" using (2):(scaling*single) every ::0::0 with points pt 6 ps 2 lc rgb "red" \
         title sprintf("target at -t 2: %gx -t 1", scaling)

set title "TCP on loopback: requests per second (median)"
set xlabel "connections (ipc_soak: threads)"
set ylabel "requests / s"
set xrange [0.8:20]
plot data."/tcp_pingpong.dat" using 1:2 with linespoints lw 2 pt 7 lc 3 title "ping-pong (limit)", \
     data."/tcp_redis.dat" using 1:2 with linespoints lw 2 pt 5 lc 2 title "redis-benchmark PING_MBULK", \
     data."/tcp_ipc_soak_tcp.dat" using 1:2 with linespoints lw 2 pt 9 lc 1 title "ipc_soak -u tcp://"

set title "TCP on loopback: latency, p50 (dashed) and p99 (median)"
set ylabel "microseconds"
set format y "%g"
set logscale y 10
set yrange [*:*]
set key top left
plot data."/tcp_pingpong.dat" using 1:4 with linespoints lw 2 pt 7 lc 3 title "ping-pong p99", \
     data."/tcp_pingpong.dat" using 1:3 with linespoints lw 1 dt 2 pt 7 lc 3 notitle, \
     data."/tcp_redis.dat" using 1:4 with linespoints lw 2 pt 5 lc 2 title "redis p99", \
     data."/tcp_redis.dat" using 1:3 with linespoints lw 1 dt 2 pt 5 lc 2 notitle, \
     data."/tcp_ipc_soak_tcp.dat" using 1:4 with linespoints lw 2 pt 9 lc 1 title "ipc_soak p99", \
     data."/tcp_ipc_soak_tcp.dat" using 1:3 with linespoints lw 1 dt 2 pt 9 lc 1 notitle
unset multiplot
