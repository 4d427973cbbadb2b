#include "audittrail.h"

// The PostgreSQL side of the audit trail and the record counter: the server functions and the
// triggers that call them.

#include "connection.h"

#include <QSqlError>
#include <QSqlQuery>

using namespace Qt::StringLiterals;

namespace KorDAO {

namespace {

// Every function runs with these settings: names resolve in pg_catalog first and in the
// session's temporary schema last, never in a schema a login can create objects in; the time
// of the trail is in the zone of the session that created the function (moxdb init), whatever
// zone a login sets for its own session.
const QString kSearchPath = u"pg_catalog, pg_temp"_s;

// A write is a bulk load of the administration tool (one summary row per statement instead of
// one row per record) only when the session marked it so AND its login may empty the table
// (TRUNCATE, which leaves one summary row anyway): the table's owner and its members, the
// administrators. An operator setting the same mark is still recorded record by record.
QString trustedBulk(const QString& table)
{
    return uR"sql(current_setting('kordao.bulk', true) = 'on'
     AND has_table_privilege(session_user, )sql"_s +
           table + u", 'TRUNCATE')"_s;
}

const QString kRefuseForeign = uR"sql(
  IF TG_TABLE_SCHEMA <> 'public'
     OR NOT EXISTS (SELECT 1 FROM public."KORDAO_ROWS" WHERE "NAME" = TG_TABLE_NAME) THEN
    RAISE EXCEPTION 'テーブル %.% の変更は監査記録に書けません（監査の対象ではありません）',
      TG_TABLE_SCHEMA, TG_TABLE_NAME USING ERRCODE = '42501';
  END IF;)sql"_s;

const QString kAuditColumns =
    uR"sql(INSERT INTO public."KORDAO_AUDIT" ("AT", "DBUSER", "OSUSER", "HOST", "PROGRAM", "CLIENT",
    "TABLENAME", "SYOKCD", "RECKEY", "ACTION", "CHANGES"))sql"_s;

// application_name as the programs set it: "<program> <osuser>@<host>" (the rest after the
// first word split at its last '@'); anything else is the program's name as it stands.
const QString kWriterParts =
    uR"sql(parts := regexp_match(current_setting('application_name', true), '^([^ ]+) (.*)@([^@]*)$');
  program := coalesce(parts[1], nullif(current_setting('application_name', true), ''));)sql"_s;

QString rowFunctionBody()
{
    return uR"sql(
DECLARE
  o jsonb;
  n jsonb;
  r jsonb;
  col record;
  ov text;
  nv text;
  changes text[] := '{}';
  reckey text;
  code bigint := 0;
  parts text[];
  program text;
BEGIN)sql"_s +
           kRefuseForeign + uR"sql(
  IF TG_OP <> 'INSERT' THEN o := to_jsonb(OLD); END IF;
  IF TG_OP <> 'DELETE' THEN n := to_jsonb(NEW); END IF;
  r := coalesce(n, o);
  -- The fields in column order: for UPDATE those that changed, for INSERT those holding a
  -- value other than the default (NULL, or 0 for a number), for DELETE all but NULL. Values as
  -- text, amounts without trailing zeros.
  FOR col IN
    SELECT a.attname::text AS name,
           a.atttypid = 'numeric'::regtype AS decimal,
           a.atttypid IN ('numeric'::regtype, 'integer'::regtype, 'bigint'::regtype,
                          'smallint'::regtype) AS number
      FROM pg_attribute a
     WHERE a.attrelid = TG_RELID AND a.attnum > 0 AND NOT a.attisdropped
     ORDER BY a.attnum
  LOOP
    ov := o ->> col.name;
    nv := n ->> col.name;
    IF col.decimal THEN
      ov := trim_scale(ov::numeric)::text;
      nv := trim_scale(nv::numeric)::text;
    END IF;
    IF (TG_OP = 'UPDATE' AND ov IS DISTINCT FROM nv)
       OR (TG_OP = 'INSERT' AND nv IS NOT NULL AND NOT (col.number AND nv::numeric = 0))
       OR (TG_OP = 'DELETE' AND ov IS NOT NULL) THEN
      changes := changes || format('[%s,%s,%s]', to_json(col.name)::text,
                                   coalesce(to_json(ov)::text, 'null'),
                                   coalesce(to_json(nv)::text, 'null'));
    END IF;
  END LOOP;
  -- The key: the primary key's fields in key order, "SYOKCD=10025 KYUSYU=2 ...".
  SELECT string_agg(a.attname::text || '=' ||
                    coalesce(CASE WHEN a.atttypid = 'numeric'::regtype
                                  THEN trim_scale((r ->> a.attname::text)::numeric)::text
                                  ELSE r ->> a.attname::text END, ''),
                    ' ' ORDER BY k.i)
    INTO reckey
    FROM pg_index x
   CROSS JOIN LATERAL unnest(x.indkey::int2[]) WITH ORDINALITY AS k(attnum, i)
    JOIN pg_attribute a ON a.attrelid = x.indrelid AND a.attnum = k.attnum
   WHERE x.indrelid = TG_RELID AND x.indisprimary;
  code := coalesce((r ->> 'SYOKCD')::bigint, 0);
  )sql"_s + kWriterParts +
           u"\n  "_s + kAuditColumns + uR"sql(
  VALUES (to_char(clock_timestamp(), 'YYYY-MM-DD HH24:MI:SS.MS'), session_user, parts[2],
          nullif(parts[3], ''), program, host(inet_client_addr()), TG_TABLE_NAME, code, reckey,
          TG_OP, '[' || array_to_string(changes, ',') || ']');
  RETURN NULL;
END
)sql"_s;
}

QString statementFunctionBody()
{
    return uR"sql(
DECLARE
  records bigint;
  action text;
  parts text[];
  program text;
BEGIN)sql"_s +
           kRefuseForeign + uR"sql(
  IF TG_OP = 'TRUNCATE' THEN
    -- Before the truncation: the counter still holds the records about to go.
    SELECT "N" INTO records FROM public."KORDAO_ROWS" WHERE "NAME" = TG_TABLE_NAME;
    action := 'CLEAR';
  ELSIF NOT coalesce()sql"_s +
           trustedBulk(u"TG_RELID"_s) + uR"sql(, false) THEN
    RETURN NULL;
  ELSIF TG_OP = 'INSERT' THEN
    SELECT count(*) INTO records FROM added;
    action := 'BULK INSERT';
  ELSE
    SELECT count(*) INTO records FROM removed;
    -- Triggers of one event fire in the order of their names: the counter's "..._ROWS_REMOVED"
    -- has already counted this delete.
    action := CASE WHEN (SELECT "N" FROM public."KORDAO_ROWS" WHERE "NAME" = TG_TABLE_NAME) = 0
                   THEN 'CLEAR' ELSE 'BULK DELETE' END;
  END IF;
  IF coalesce(records, 0) = 0 AND TG_OP <> 'TRUNCATE' THEN
    RETURN NULL;
  END IF;
  )sql"_s + kWriterParts +
           u"\n  "_s + kAuditColumns + uR"sql(
  VALUES (to_char(clock_timestamp(), 'YYYY-MM-DD HH24:MI:SS.MS'), session_user, parts[2],
          nullif(parts[3], ''), program, host(inet_client_addr()), TG_TABLE_NAME, 0, NULL,
          action, format('{"records":%s}', coalesce(records, 0)));
  RETURN NULL;
END
)sql"_s;
}

// A counter function: \p change is the statement run for a table of schema public; any other
// table (a temporary one named like a payroll table) is left alone.
QString counterBody(const QString& change)
{
    return u"\nBEGIN\n  IF TG_TABLE_SCHEMA = 'public' THEN\n    "_s + change +
           u";\n  END IF;\n  RETURN NULL;\nEND\n"_s;
}

// The triggers of the trail of table \p t. Every record changed gets its row from the row
// triggers, except the records a trusted bulk load adds or removes: the trigger of those is
// skipped by its WHEN condition, so the server spends nothing on them record by record, and the
// statement triggers write their summary. The condition is evaluated as each record is written,
// the summary at the end of the statement; an operator who turns the mark on or off in the
// middle of a statement is recorded record by record all the same, as his login is not trusted.
QStringList postgresAuditTriggers(const TableDef& t)
{
    const QString name = u"public."_s + Connection::quote(t.name);
    QString literal = name;
    literal.replace(u'\'', u"''"_s);
    const QString trigger = u"CREATE OR REPLACE TRIGGER "_s;
    return {
        trigger + Connection::quote(t.name + u"_TRAIL_UPDATE"_s) + u" AFTER UPDATE ON "_s + name +
            u" FOR EACH ROW EXECUTE FUNCTION public.kordao_audit_row()"_s,
        trigger + Connection::quote(t.name + u"_TRAIL_ROW"_s) + u" AFTER INSERT OR DELETE ON "_s +
            name + u" FOR EACH ROW WHEN (NOT coalesce("_s +
            trustedBulk(u'\'' + literal + u"'::regclass"_s) +
            u", false)) EXECUTE FUNCTION public.kordao_audit_row()"_s,
        trigger + Connection::quote(t.name + u"_TRAIL_ADDED"_s) + u" AFTER INSERT ON "_s + name +
            u" REFERENCING NEW TABLE AS added FOR EACH STATEMENT "
            "EXECUTE FUNCTION public.kordao_audit_statement()"_s,
        trigger + Connection::quote(t.name + u"_TRAIL_REMOVED"_s) + u" AFTER DELETE ON "_s + name +
            u" REFERENCING OLD TABLE AS removed FOR EACH STATEMENT "
            "EXECUTE FUNCTION public.kordao_audit_statement()"_s,
        trigger + Connection::quote(t.name + u"_TRAIL_CLEARED"_s) + u" BEFORE TRUNCATE ON "_s +
            name + u" FOR EACH STATEMENT EXECUTE FUNCTION public.kordao_audit_statement()"_s,
    };
}

} // namespace

std::vector<ServerFunction> counterFunctions()
{
    const QString counter = u"UPDATE public.\"KORDAO_ROWS\" SET \"N\" = "_s;
    return {
        {u"kordao_rows_added"_s,
         counterBody(counter + u"\"N\" + (SELECT count(*) FROM added) WHERE \"NAME\" = "
                               "TG_TABLE_NAME"_s)},
        {u"kordao_rows_removed"_s,
         counterBody(counter + u"\"N\" - (SELECT count(*) FROM removed) WHERE \"NAME\" = "
                               "TG_TABLE_NAME"_s)},
        {u"kordao_rows_cleared"_s, counterBody(counter + u"0 WHERE \"NAME\" = TG_TABLE_NAME"_s)},
    };
}

std::vector<ServerFunction> auditFunctions()
{
    return {{u"kordao_audit_row"_s, rowFunctionBody()},
            {u"kordao_audit_statement"_s, statementFunctionBody()}};
}

ServerFunction keepTriggersFunction(const QStringList& audited)
{
    QString names;
    for (const QString& table : audited) {
        QString literal = table;
        literal.replace(u'\'', u"''"_s);
        names += (names.isEmpty() ? QString() : u", "_s) + u'\'' + literal + u'\'';
    }
    QString body = uR"sql(
DECLARE
  broken text;
BEGIN
  SELECT string_agg(DISTINCT r."NAME", ', ') INTO broken
    FROM public."KORDAO_ROWS" r
   CROSS JOIN LATERAL unnest(ARRAY['_ROWS_ADDED', '_ROWS_REMOVED', '_ROWS_CLEARED'] ||
         CASE WHEN r."NAME" = ANY (ARRAY[@AUDITED@]::text[])
              THEN ARRAY['_TRAIL_ROW', '_TRAIL_UPDATE', '_TRAIL_ADDED', '_TRAIL_REMOVED',
                         '_TRAIL_CLEARED']
              ELSE ARRAY[]::text[] END) AS s(suffix)
   WHERE NOT EXISTS (
         SELECT 1 FROM pg_trigger t
           JOIN pg_class c ON c.oid = t.tgrelid
           JOIN pg_namespace n ON n.oid = c.relnamespace
          WHERE n.nspname = 'public' AND c.relname = r."NAME"
            AND t.tgname = r."NAME" || s.suffix AND t.tgenabled IN ('O', 'A'));
  IF broken IS NOT NULL THEN
    RAISE EXCEPTION 'テーブル % の件数と監査記録を保つトリガーは、削除・無効化できません（テーブルの削除や名前の変更もできません）', broken
      USING ERRCODE = '42501';
  END IF;
  -- ALTER TABLE can rewrite every record without firing a row trigger (ALTER COLUMN ... TYPE
  -- ... USING): only the superuser alters a counted table.
  IF NOT coalesce((SELECT rolsuper FROM pg_roles WHERE rolname = session_user), false) THEN
    SELECT string_agg(DISTINCT r."NAME", ', ') INTO broken
      FROM pg_event_trigger_ddl_commands() d
      JOIN public."KORDAO_ROWS" r ON d.objid = to_regclass('public.' || quote_ident(r."NAME"))
     WHERE d.command_tag = 'ALTER TABLE';
    IF broken IS NOT NULL THEN
      RAISE EXCEPTION 'テーブル % の定義を変えられるのはサーバーのスーパーユーザーだけです', broken
        USING ERRCODE = '42501';
    END IF;
  END IF;
END
)sql"_s;
    body.replace(u"@AUDITED@"_s, names);
    return {u"kordao_keep_triggers"_s, body, u"event_trigger"_s};
}

mox::Status ensureServerFunctions(Connection& db, const std::vector<ServerFunction>& functions)
{
    for (const ServerFunction& f : functions) {
        std::vector<Connection::Row> same;
        if (mox::Status s =
                db.select(u"SELECT 1 FROM pg_proc p JOIN pg_namespace n ON n.oid = p.pronamespace "
                          "WHERE n.nspname = 'public' AND p.proname = ? AND p.pronargs = 0 "
                          "AND p.prosrc = ? AND p.prosecdef "
                          "AND coalesce(p.proconfig, '{}') @> ARRAY[?]"_s,
                          {f.name, f.body, u"search_path="_s + kSearchPath}, &same);
            !s.ok())
            return s;
        if (!same.empty())
            continue;
        // Run as they stand: a prepared statement would read the body's question marks as
        // placeholders.
        const QString name = u"public."_s + f.name + u"()"_s;
        for (const QString& sql :
             {u"CREATE OR REPLACE FUNCTION "_s + name + u" RETURNS "_s + f.returns +
                  u" LANGUAGE plpgsql SECURITY DEFINER SET search_path = "_s + kSearchPath +
                  u" SET TimeZone FROM CURRENT AS $kordao$"_s + f.body + u"$kordao$"_s,
              u"REVOKE ALL ON FUNCTION "_s + name + u" FROM PUBLIC"_s}) {
            QSqlQuery q(db.db());
            if (!q.exec(sql))
                return mox::Status::failure(kUpdateFailed, Connection::errorText(q.lastError()));
        }
    }
    return mox::Status::success();
}

QStringList postgresAuditTriggerDdl(const TableDef& table)
{
    return postgresAuditTriggers(table);
}

} // namespace KorDAO
