-- Three questions to a capture loaded by scripts/recipes/postgresql.sh:
--   psql -X -v ON_ERROR_STOP=1 -A -t -F '|' -f scripts/recipes/postgresql-queries.sql
-- Frames in the capture (a --statistic line has no "frame").
SELECT 'frames', count(*) FROM frames WHERE j ? 'frame';
-- Frames to TCP port 443.
SELECT 'tcp_443', count(*) FROM frames WHERE (j->'tcp'->>'dst_port')::bigint = 443;
-- The three names asked most in DNS questions.
SELECT 'dns_name', name, n FROM (
    SELECT question->>'name' COLLATE "C" AS name, count(*) AS n
    FROM frames, jsonb_array_elements(j->'dns'->'questions') AS q(question)
    GROUP BY 1) AS asked
ORDER BY n DESC, name LIMIT 3;
