# shellcheck shell=bash
# Local peers for scripts/demo and scripts/bench: nginx, the pyftpdlib FTP
# server and a server that never answers, each on a free port of 127.0.0.1.
# Nothing here listens on or talks to any other address.
#
# Source from bash, then:
#   servers_init DIR                 scratch directory for configs, logs, pids
#   make_certificates                a private CA (ca.pem) and a certificate for
#                                    127.0.0.1, ::1 and localhost; sets CERT_DIR
#   start_nginx ROOT [ACCESS-LOG]    serves ROOT; sets NGINX_PORT, and once
#                                    certificates are made, NGINX_TLS_PORT (https)
#   start_ftpd USER PASSWORD HOME    serves HOME; sets FTPD_PORT
#   start_ftps HOME                  vsftpd requiring TLS (make_certificates
#                                    first), anonymous, HOME/pub writable;
#                                    sets FTPS_PORT
#   start_proftpd HOME               proftpd serving HOME to user quorbit,
#                                    password quorbit; sets PROFTPD_PORT
#   start_pureftpd HOME              pure-ftpd, the same; sets PUREFTPD_PORT
#   start_stall                      accepts and stays silent; sets STALL_PORT
#   stop_servers                     stops everything started above
# The caller stops the servers from its EXIT trap, so they go on failure and
# on Ctrl-C too.

# NGINX_PORT, NGINX_TLS_PORT, CERT_DIR, FTPD_PORT, FTPS_PORT, PROFTPD_PORT,
# PUREFTPD_PORT and STALL_PORT are set here for the caller.
# shellcheck disable=SC2034

SERVERS_LIB_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# The FTP server is the one the tests use.
SERVERS_PEERS_DIR=$(cd "$SERVERS_LIB_DIR/../../tests/peers" && pwd)
# pyftpdlib comes from the Debian package, so the system interpreter runs the
# helpers whatever python3 comes first on PATH.
SERVERS_PYTHON=/usr/bin/python3

_servers_dir=""
_server_pids=()

servers_init() {
  _servers_dir=$1
  mkdir -p "$_servers_dir"
}

stop_servers() {
  local pid tries
  for pid in "${_server_pids[@]}"; do
    kill -TERM "$pid" 2>/dev/null || continue
  done
  for pid in "${_server_pids[@]}"; do
    tries=0
    while kill -0 "$pid" 2>/dev/null && [ $tries -lt 50 ]; do
      sleep 0.1
      tries=$((tries + 1))
    done
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  _server_pids=()
}

# A TCP port on 127.0.0.1 that nobody listens on at the moment.
free_port() {
  "$SERVERS_PYTHON" -c 'import socket
s = socket.socket()
s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])'
}

# True once something accepts connections on 127.0.0.1:$1.
_port_open() {
  (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

# Starts a helper that prints "PORT <n>" when it listens; echoes the port.
# $1 names the helper's files in the scratch directory; the rest is the command.
_start_port_printer() {
  local name=$1 pid tries=0
  shift
  "$@" >"$_servers_dir/$name.out" 2>"$_servers_dir/$name.err" &
  pid=$!
  _server_pids+=("$pid")
  until grep -q '^PORT ' "$_servers_dir/$name.out" 2>/dev/null; do
    tries=$((tries + 1))
    if [ $tries -gt 100 ] || ! kill -0 "$pid" 2>/dev/null; then
      echo "servers: $name did not start:" >&2
      cat "$_servers_dir/$name.err" >&2
      return 1
    fi
    sleep 0.1
  done
  sed -n 's/^PORT //p' "$_servers_dir/$name.out" | head -n 1
}

start_ftpd() {
  # The port is read from a file: a command substitution would run the
  # helper in a subshell, and its pid would not reach stop_servers.
  _start_port_printer ftpd "$SERVERS_PYTHON" "$SERVERS_PEERS_DIR/ftp_server.py" "$1" "$2" "$3" \
    >"$_servers_dir/ftpd.port" || return 1
  FTPD_PORT=$(cat "$_servers_dir/ftpd.port")
}

# vsftpd wants an anonymous root that its ftp user cannot write to; uploads
# go below it, into pub/. Login and every data channel must use TLS, and data
# channels must resume the control channel's TLS session.
_write_vsftpd_conf() {
  local home=$1 port=$2 conf=$3
  cat >"$conf" <<EOF
listen=YES
listen_address=127.0.0.1
listen_port=$port
background=NO
anonymous_enable=YES
local_enable=NO
anon_root=$home
no_anon_password=YES
write_enable=YES
anon_upload_enable=YES
anon_mkdir_write_enable=YES
anon_other_write_enable=YES
anon_umask=022
pasv_enable=YES
pasv_address=127.0.0.1
pasv_min_port=0
pasv_max_port=0
seccomp_sandbox=NO
secure_chroot_dir=/var/run/vsftpd/empty
xferlog_enable=NO
vsftpd_log_file=$_servers_dir/vsftpd.log
ssl_enable=YES
allow_anon_ssl=YES
force_anon_logins_ssl=YES
force_anon_data_ssl=YES
require_ssl_reuse=YES
ssl_ciphers=HIGH
rsa_cert_file=$CERT_DIR/server.pem
rsa_private_key_file=$CERT_DIR/server.key
EOF
}

start_ftps() {
  local home
  home=$(cd "$1" && pwd) || return 1
  mkdir -p /var/run/vsftpd/empty "$home/pub"
  chmod 555 "$home"
  chown ftp "$home/pub" 2>/dev/null || chmod 777 "$home/pub"
  _launch_vsftpd() {
    _write_vsftpd_conf "$home" "$1" "$_servers_dir/vsftpd.conf"
    exec vsftpd "$_servers_dir/vsftpd.conf"
  }
  _start_on_free_port vsftpd _launch_vsftpd "$_servers_dir/vsftpd.err" || return 1
  FTPS_PORT=$STARTED_PORT
}

# proftpd and pure-ftpd cannot be installed beside vsftpd (each package
# provides ftp-server): scripts/install-deps keeps their packages in a cache,
# and they are unpacked here into the scratch directory. The configuration
# templates are those of the tests.
_deb_cache=${QUORBIT_DEB_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/quorbit/debs}

# Unpacks the packages named into $_servers_dir/NAME; echoes that directory.
_unpack_debs() {  # NAME PACKAGE...
  local dir=$_servers_dir/$1 package deb
  shift
  mkdir -p "$dir"
  for package in "$@"; do
    deb=$(ls "$_deb_cache/$package"_*.deb 2>/dev/null | tail -n 1)
    if [ -z "$deb" ]; then
      echo "servers: $package is not in $_deb_cache: run scripts/install-deps" >&2
      return 1
    fi
    dpkg-deb -x "$deb" "$dir" || return 1
  done
  echo "$dir"
}

# Replaces @PORT@, @UNPACKED@, @WORK@ and @ROOT@ in a template of the tests.
_fill_template() {  # TEMPLATE PORT UNPACKED WORK ROOT
  sed -e "s#@PORT@#$2#g" -e "s#@UNPACKED@#$3#g" -e "s#@WORK@#$4#g" -e "s#@ROOT@#$5#g" \
    "$SERVERS_PEERS_DIR/$1"
}

start_proftpd() {
  local home unpacked work=$_servers_dir/proftpd
  home=$(cd "$1" && pwd) || return 1
  unpacked=$(_unpack_debs proftpd-pkg proftpd-core) || return 1
  mkdir -p "$work"
  _fill_template proftpd.passwd.in 0 "$unpacked" "$work" "$home" >"$work/passwd"
  chmod 600 "$work/passwd"
  echo "root:x:0:" >"$work/group"
  _launch_proftpd() {
    _fill_template proftpd.conf.in "$1" "$unpacked" "$work" "$home" >"$work/proftpd.conf"
    exec "$unpacked/usr/sbin/proftpd" -n -q -c "$work/proftpd.conf"
  }
  _start_on_free_port proftpd _launch_proftpd "$work/start.log" "$work/system.log" || return 1
  PROFTPD_PORT=$STARTED_PORT
}

# Its virtual user is nobody (pure-ftpd refuses the uid of root), so HOME must
# be readable by anyone.
start_pureftpd() {
  local home unpacked work=$_servers_dir/pureftpd
  home=$(cd "$1" && pwd) || return 1
  unpacked=$(_unpack_debs pureftpd-pkg pure-ftpd) || return 1
  mkdir -p "$work"
  _fill_template pure-ftpd.passwd.in 0 "$unpacked" "$work" "$home" >"$work/pure.passwd"
  "$unpacked/usr/bin/pure-pw" mkdb "$work/pure.pdb" -f "$work/pure.passwd" || return 1
  _launch_pureftpd() {
    exec "$unpacked/usr/sbin/pure-ftpd" --bind "127.0.0.1,$1" --login "puredb:$work/pure.pdb" \
      --noanonymous --dontresolve --pidfile "$work/pure-ftpd.pid"
  }
  _start_on_free_port pure-ftpd _launch_pureftpd "$work/start.log" || return 1
  PUREFTPD_PORT=$STARTED_PORT
}

start_stall() {
  _start_port_printer stall "$SERVERS_PYTHON" "$SERVERS_LIB_DIR/stall_server.py" \
    >"$_servers_dir/stall.port" || return 1
  STALL_PORT=$(cat "$_servers_dir/stall.port")
}

# Starts a server on a free port, trying up to three: LAUNCH PORT writes the
# server's configuration for that port and execs it (in the background, its
# output to the first LOG). The port it listens on is left in STARTED_PORT;
# when none works, the logs say why.
_start_on_free_port() {  # NAME LAUNCH LOG...
  local name=$1 launch=$2 port
  shift 2
  for _ in 1 2 3; do
    port=$(free_port)
    "$launch" "$port" >>"$1" 2>&1 &
    if _kept_once_listening $! "$port"; then
      STARTED_PORT=$port
      return 0
    fi
  done
  echo "servers: $name did not start:" >&2
  cat "$@" >&2 2>/dev/null
  return 1
}

# Waits up to 10 s for the server started as PID to listen on PORT. Then it
# is stopped with the others; a server that exited (another process took
# the free port first) or never listens is stopped now, and the caller tries
# another port.
_kept_once_listening() {
  local pid=$1 port=$2 tries=0
  while kill -0 "$pid" 2>/dev/null && ! _port_open "$port" && [ $tries -lt 100 ]; do
    sleep 0.1
    tries=$((tries + 1))
  done
  if kill -0 "$pid" 2>/dev/null && _port_open "$port"; then
    _server_pids+=("$pid")
    return 0
  fi
  kill -TERM "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  return 1
}

# A CA made for this run only, and a server certificate it signed, in the
# scratch directory: clients trust ca.pem (Quorbit's CA_FILE, curl --cacert).
make_certificates() {
  CERT_DIR=$_servers_dir/certs
  mkdir -p "$CERT_DIR"
  (
    cd "$CERT_DIR"
    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout ca.key \
      -out ca.pem -days 2 -subj "/CN=Quorbit Demo CA"
    openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout server.key \
      -out server.csr -subj "/CN=localhost"
    printf 'subjectAltName=IP:127.0.0.1,IP:::1,DNS:localhost\nbasicConstraints=CA:FALSE\n' >server.ext
    openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 \
      -extfile server.ext -out server.pem
  ) >"$_servers_dir/certs.log" 2>&1 || {
    echo "servers: openssl could not make the certificates:" >&2
    cat "$_servers_dir/certs.log" >&2
    return 1
  }
}

# The https server block, once make_certificates ran.
_nginx_tls_server() {
  local root=$1 port=$2
  [ -n "${CERT_DIR:-}" ] || return 0
  cat <<EOF
  server {
    listen 127.0.0.1:$port ssl;
    server_name localhost;
    root $root;
    index index.html;
    ssl_certificate $CERT_DIR/server.pem;
    ssl_certificate_key $CERT_DIR/server.key;
  }
EOF
}

_write_nginx_conf() {
  local prefix=$1 root=$2 port=$3 access_log=$4 tls_port=$5 user_line=""
  # Run as root, nginx would hand its workers to "nobody", who may not read
  # the served tree; the workers keep the caller's identity instead.
  [ "$(id -u)" = 0 ] && user_line="user root root;"
  cat >"$prefix/nginx.conf" <<EOF
daemon off;
worker_processes 1;
pid $prefix/nginx.pid;
error_log $prefix/error.log warn;
$user_line
events { worker_connections 512; }
http {
  include /etc/nginx/mime.types;
  default_type application/octet-stream;
  access_log $access_log;
  sendfile on;
  tcp_nopush on;
  keepalive_timeout 30;
  client_body_temp_path $prefix/tmp/body;
  proxy_temp_path $prefix/tmp/proxy;
  fastcgi_temp_path $prefix/tmp/fastcgi;
  uwsgi_temp_path $prefix/tmp/uwsgi;
  scgi_temp_path $prefix/tmp/scgi;
  server {
    listen 127.0.0.1:$port;
    server_name localhost;
    root $root;
    index index.html;
  }
$(_nginx_tls_server "$root" "$tls_port")
}
EOF
}

start_nginx() {
  local root access_log=${2:-off} prefix="$_servers_dir/nginx" port tls_port
  root=$(cd "$1" && pwd) || return 1
  mkdir -p "$prefix/tmp"
  # Another process may take the free port before nginx binds it; then nginx
  # exits at once and the next attempt takes another port.
  for _ in 1 2 3; do
    port=$(free_port)
    tls_port=$(free_port)
    _write_nginx_conf "$prefix" "$root" "$port" "$access_log" "$tls_port"
    nginx -p "$prefix" -e "$prefix/error.log" -c "$prefix/nginx.conf" 2>>"$prefix/start.log" &
    if _kept_once_listening $! "$port"; then
      NGINX_PORT=$port
      [ -z "${CERT_DIR:-}" ] || NGINX_TLS_PORT=$tls_port
      return 0
    fi
  done
  echo "servers: nginx did not start:" >&2
  cat "$prefix/start.log" "$prefix/error.log" >&2 2>/dev/null
  return 1
}
