# Draws docs/performance.png from the data files report.py writes.
#   gnuplot -e "data='DIR'; out='FILE.png'; title_note='...'; scaling=1.6" bench/performance.gp
# Left: in-process commands per second by worker threads, median with the
# min-max range, and the -t 2 target (scaling times -t 1). Right: TCP
# requests per second by connections.
set terminal pngcairo size 1400,560 font "sans,11" noenhanced
set output out
set multiplot layout 1,2 title "ipc_soak benchmark  ".title_note
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
set xlabel "connections / threads"
set ylabel "requests / s"
set xrange [0.8:20]
plot data."/tcp_pingpong.dat" using 1:2 with linespoints lw 2 pt 7 title "ping-pong (limit)", \
     data."/tcp_redis.dat" using 1:2 with linespoints lw 2 pt 5 title "redis-benchmark PING", \
     data."/tcp_ipc_soak_tcp.dat" using 1:2 with linespoints lw 2 pt 9 title "ipc_soak -u tcp://"
unset multiplot
