<!DOCTYPE html>
<html lang="pt-BR">
<head>
<meta charset="utf-8">
<title>SEFAZ Bahia - SINTEGRA</title>
<style>
body { font-family: Tahoma, sans-serif; font-size: 13px; margin: 1.5em; }
.captcha { display: inline-block; padding: 4px 10px; margin-right: 6px; background: #dde; font: italic bold 18px monospace; letter-spacing: 4px; }
</style>
</head>
<body>
<p><a href="/">Portal da SEFAZ</a> | <a href="/Sintegra/Ajuda.asp">Ajuda</a> | <a href="/Sintegra/Estados.asp">Outros estados</a></p>
<h2>SINTEGRA - Consulta Pública ao Cadastro do Estado da Bahia</h2>
<form id="consulta" method="post" action="/Sintegra/Result.asp">
  <input type="hidden" name="estado" value="BA">
  <p>CNPJ: <input name="txt_CNPJ" size="20" maxlength="18" value=""></p>
  <p><span class="captcha" role="img" aria-label="captcha">7K3X</span>
  <label for="captcha">Digite os caracteres da imagem:</label> <input id="captcha" name="captcha" size="6" autocomplete="off" value=""></p>
  <input type="submit" value="Consultar">
</form>
<p><small>Página de amostra do Quarvel: dados fictícios.</small></p>
</body>
</html>
