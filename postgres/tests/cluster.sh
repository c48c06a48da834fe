# Shell helpers for a throw-away PostgreSQL cluster on a Unix socket in a
# temporary directory (no TCP listener). Sourced by run-tests and
# bench/postgres-bench. PostgreSQL refuses to run as root, so as root the
# server and its client programs run as the "postgres" user.
#
#   zarn_pg_install STAGE     copy the extension files into the server's dirs
#   zarn_pg_start DIR         initdb + start; sets PGHOST, PGPORT, PGUSER
#   zarn_pg_stop              stop the server (immediate) and remove DIR
#   as_pg CMD...              run CMD as the cluster's owner

zarn_pg_bindir=${ZARN_PG_BINDIR:-$(pg_config --bindir)}

as_pg() {
  if [ "$(id -u)" = 0 ]; then
    runuser -u postgres -- "$@"
  else
    "$@"
  fi
}

# Can this user put files into the server's directories (root, or a
# writable installation)? Prints why not and returns 1 otherwise.
zarn_pg_can_install() {
  local pkglib share
  pkglib=$(pg_config --pkglibdir)
  share=$(pg_config --sharedir)
  if [ "$(id -u)" = 0 ]; then
    if ! id postgres >/dev/null 2>&1; then
      echo "no 'postgres' user to run the server as (install postgresql-15)"
      return 1
    fi
    return 0
  fi
  if [ -w "$pkglib" ] && [ -w "$share/extension" ]; then return 0; fi
  echo "cannot write $pkglib and $share/extension (run as root)"
  return 1
}

zarn_pg_install() {
  local stage=$1 pkglib share
  pkglib=$(pg_config --pkglibdir)
  share=$(pg_config --sharedir)
  install -m 755 "$stage/pkglib/zarn.so" "$pkglib/zarn.so"
  install -m 644 "$stage"/extension/zarn.control "$stage"/extension/zarn--*.sql "$share/extension/"
  install -d -m 755 "$share/zarn"
  install -m 644 "$stage/zarn/qordatavb.DAT" "$share/zarn/qordatavb.DAT"
}

zarn_pg_dir=
zarn_pg_start() {
  zarn_pg_dir=$1
  mkdir -p "$zarn_pg_dir"
  chmod 755 "$zarn_pg_dir"
  if [ "$(id -u)" = 0 ]; then chown postgres: "$zarn_pg_dir"; fi
  as_pg "$zarn_pg_bindir/initdb" -D "$zarn_pg_dir/data" -E UTF8 --locale=C -A trust -U postgres \
    --no-sync >"$zarn_pg_dir/initdb.log" 2>&1 || {
    cat "$zarn_pg_dir/initdb.log" >&2
    return 1
  }
  as_pg "$zarn_pg_bindir/pg_ctl" -D "$zarn_pg_dir/data" -l "$zarn_pg_dir/server.log" -w -t 60 \
    -o "-k $zarn_pg_dir -c listen_addresses= -p 5432 -c fsync=off -c max_worker_processes=8 -c max_parallel_workers=8 ${ZARN_PG_OPTIONS:-}" \
    start >/dev/null || {
    cat "$zarn_pg_dir/server.log" >&2
    return 1
  }
  export PGHOST=$zarn_pg_dir PGPORT=5432 PGUSER=postgres
  unset PGDATABASE PGSERVICE PGPASSWORD PGOPTIONS
}

zarn_pg_stop() {
  [ -n "$zarn_pg_dir" ] || return 0
  if [ -f "$zarn_pg_dir/data/postmaster.pid" ]; then
    as_pg "$zarn_pg_bindir/pg_ctl" -D "$zarn_pg_dir/data" -m immediate -w stop >/dev/null 2>&1 || true
  fi
  rm -rf "$zarn_pg_dir"
  zarn_pg_dir=
}
