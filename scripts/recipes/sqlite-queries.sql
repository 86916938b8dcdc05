-- Three questions to a capture loaded by scripts/recipes/sqlite.sh:
--   sqlite3 frames.db < scripts/recipes/sqlite-queries.sql
-- Frames in the capture (a --statistic line has no "frame").
SELECT 'frames', count(*) FROM frames WHERE j->>'$.frame' IS NOT NULL;
-- Frames to TCP port 443.
SELECT 'tcp_443', count(*) FROM frames WHERE j->>'$.tcp.dst_port' = 443;
-- The three names asked most in DNS questions.
SELECT 'dns_name', q.value->>'$.name' AS name, count(*) AS n
FROM frames, json_each(frames.j, '$.dns.questions') AS q
GROUP BY name ORDER BY n DESC, name LIMIT 3;
